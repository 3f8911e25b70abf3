"""Failures and echoed texts as a shop owner reads them: one line, in Chinese, no terminal controls."""
import errno
import re

# Characters a terminal would act on (escape sequences, bidirectional overrides): dropped
# from whatever is printed back.
CONTROLS = re.compile("[\x00-\x1f\x7f-\x9f\u200e\u200f\u202a-\u202e\u2066-\u2069]")

REASONS = {
    errno.ENOSPC: "磁碟已滿", errno.EDQUOT: "超過磁碟配額", errno.EACCES: "沒有權限", errno.EPERM: "沒有權限",
    errno.EROFS: "磁碟唯讀", errno.ENOENT: "找不到", errno.EEXIST: "已經存在", errno.EIO: "磁碟讀寫錯誤",
    errno.ELOOP: "符號連結", errno.ENOTDIR: "不是資料夾", errno.EISDIR: "是資料夾", errno.EBUSY: "使用中",
    errno.EFBIG: "檔案太大", errno.ENAMETOOLONG: "名稱太長", errno.EPIPE: "輸出已被關閉",
    errno.EINVAL: "不能使用", errno.ENXIO: "不是一般檔案",
}


def printable(value):
    return CONTROLS.sub("", value) if isinstance(value, str) else value


def shown(text):
    """A text typed as an argument, as it may be printed back: bytes that are not UTF-8 as �,
    terminal controls dropped."""
    if isinstance(text, bytes):
        text = text.decode("utf-8", "replace")
    return printable(text.encode("utf-8", "surrogateescape").decode("utf-8", "replace"))


def has_chinese(text):
    return any(ord(c) > 0x2e80 for c in text)


def said(error):
    """An exception as one line: the errno in words instead of "[Errno 28] No space left on
    device", the file named; our own Chinese messages as they are."""
    if isinstance(error, OSError) and error.errno is not None:
        text = error.strerror or ""
        if not has_chinese(text):
            text = REASONS.get(error.errno, f"系統錯誤（代碼 {error.errno}）")
        if error.filename is not None and shown(str(error.filename)) not in text:
            text = f"{shown(str(error.filename))}：{text}"
        return printable(text)
    if isinstance(error, KeyError) and error.args:
        return printable(str(error.args[0]))
    text = str(error)
    if isinstance(error, UnicodeError):
        return "文字編碼錯誤：內容不是有效的 UTF-8"
    return printable(text) if has_chinese(text) or not text else f"內部錯誤（{type(error).__name__}）：{printable(text)}"
