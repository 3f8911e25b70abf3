"""What a failure reads like: one line in Chinese, naming the file, without errno prefixes."""
import errno

import pytest

from receiptora.messages import said, shown


@pytest.mark.parametrize("error, expected", [
    (OSError(errno.ENOSPC, "No space left on device", "/shop/收據清冊.csv"), "/shop/收據清冊.csv：磁碟已滿"),
    (OSError(errno.EIO, "收據簿 /shop/收據簿.sqlite3：磁碟已滿，無法寫入"), "收據簿 /shop/收據簿.sqlite3：磁碟已滿，無法寫入"),
    (BrokenPipeError(errno.EPIPE, "Broken pipe"), "輸出已被關閉"),
    (OSError(errno.ELOOP, "Too many levels of symbolic links", "a\x1b[2Jb"), "a[2Jb：符號連結"),
    (KeyError("收據簿沒有收據 收據-\x1b[31m"), "收據簿沒有收據 收據-[31m"),
    (RuntimeError("database or disk is full"), "內部錯誤（RuntimeError）：database or disk is full"),
])
def test_said(error, expected):
    assert said(error) == expected


def test_shown_arguments_lose_controls_and_stray_bytes():
    assert shown("收據-\x1b[2J\udcff001\u202e") == "收據-[2J\ufffd001"
