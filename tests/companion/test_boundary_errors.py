"""What a C++ failure becomes in Python at the companion's boundary: a system error keeps its
errno (so it is the OSError subclass Python's own file calls would raise), a refused request
its Python type."""
import errno

import pytest

import quillmarkers_model as quillmarkers


def request(folder, **changes):
    r = {"版本": "一般格式", "買受人": "林記茶行", "買受人統一編號": "22099131", "品名": ["烏龍茶"], "數量": [2],
         "單件價格": [350], "存檔路徑": folder, "顯示免用統一發票章": False, "顯示負責人章": False,
         "顯示日期": True, "年": 2026, "月": 12, "日": 7}
    r.update(changes)
    return r


@pytest.mark.parametrize("case, changes, kind, number", [
    ("folder under a file", {}, NotADirectoryError, errno.ENOTDIR),
    ("quantity not a list", {"數量": 5}, TypeError, None),
])
def test_failure_reaches_python_as_the_error_it_stands_for(tmp_path, case, changes, kind, number):
    (tmp_path / "file").write_text("")
    results, _ = quillmarkers.issue_receipts([request(str(tmp_path / "file") + "/", **changes)], jobs=1,
                                             progress=lambda done=1: None)
    (error,) = results
    assert type(error) is kind, case
    assert getattr(error, "errno", None) == number
