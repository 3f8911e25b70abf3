"""The receipt request as the renderer reads it: what renders, and what is refused with an
error naming the key. The drawing itself is tested with the C++ renderer."""
import re
import subprocess
import threading

import pytest

from receiptora import _render

SELLER = {"商號名稱": "喵喵文具行", "統一編號": "12345678", "負責人": "王小明", "地址": "臺北市", "電話": "02-2345-6789"}


class Hostile(int):
    """An int whose __abs__ lies: read as the int it is."""
    def __abs__(self):
        return "not an int"


def request(**changes):
    r = {
        "版本": "一般格式",
        "買受人": "大同國小",
        "買受人統一編號": "87654321",
        "品名": ["原子筆", "備註一行"],
        "數量": [12, 0],
        "單件價格": [15, 0],
        "存檔路徑": "/tmp/",
        "顯示免用統一發票章": True,
        "顯示負責人章": True,
        "顯示日期": True,
        "年": 2026,
        "月": 12,
        "日": 7,
    }
    r.update(changes)
    return {k: v for k, v in r.items() if v is not ...}


def pdf_text(pdf, tmp_path, *options):
    path = tmp_path / "r.pdf"
    path.write_bytes(pdf)
    out = subprocess.run(["pdftotext", *options, str(path), "-"], check=True, capture_output=True, text=True).stdout
    return "".join(out.split())


def fonts(pdf, tmp_path):
    path = tmp_path / "f.pdf"
    path.write_bytes(pdf)
    return subprocess.run(["pdffonts", str(path)], check=True, capture_output=True, text=True).stdout


@pytest.mark.parametrize(
    "changes, shown",
    [
        ({}, "中華民國115年12月7日"),
        ({"年": "2026", "月": "12", "日": "07"}, "中華民國115年12月7日"),  # the date picker's texts
        ({"顯示日期": False, "年": "not read"}, "中華民國年月日"),
        ({"數量": [10**5000, 0]}, "1" + "0" * 5000),  # past Python's 4300-digit str limit
        ({"數量": [Hostile(-37), 0], "單件價格": [Hostile(-41), 0]}, "-37-411517"),
        ({"備註": ["含運", None]}, "含運"),
    ],
    ids=["ints", "texts", "blank_date", "huge_int", "int_subclass", "notes"],
)
def test_renders(changes, shown, tmp_path):
    pdf = _render.render_pdf(request(**changes), "收據-20261207-003", SELLER, "2026-12-07T10:00:00")
    assert pdf.startswith(b"%PDF")
    assert shown in pdf_text(pdf, tmp_path, "-raw").replace(",", "")
    assert _render.render_png(request(**changes), "收據-1", SELLER).startswith(b"\x89PNG\r\n\x1a\n")


@pytest.mark.parametrize("seller, named", [(SELLER, []), ({**SELLER, "商號名稱": ""}, ["商號名稱"]),
                                           ({**SELLER, "商號名稱": "", "負責人": " "}, ["商號名稱", "負責人"])])
def test_warnings_name_the_profile_field(seller, named):
    warnings = _render.receipt_warnings(request(), "收據-1", seller)
    assert len(warnings) == len(named)
    for warning, field in zip(warnings, named):
        assert "賣方資料.toml" in warning and field in warning


def test_render_both_binding():
    both = _render.render_both(request(), "收據-1", SELLER, "2026-12-07T10:00:00")
    assert both == (_render.render_pdf(request(), "收據-1", SELLER, "2026-12-07T10:00:00"),
                    _render.render_png(request(), "收據-1", SELLER))


def test_render_pages_binding():
    long = request(品名=["茶"] * 30, 數量=[1] * 30, 單件價格=[5] * 30)
    pdf, pngs = _render.render_pages(long, "收據-1", SELLER, "2026-12-07T10:00:00")
    assert pdf == _render.render_pdf(long, "收據-1", SELLER, "2026-12-07T10:00:00")
    assert len(pngs) == 4 and all(png[16:24] == (1240).to_bytes(4, "big") + (874).to_bytes(4, "big") for png in pngs)


@pytest.mark.parametrize(
    "version, face", [(..., "UMing"), ("一般格式", "UMing"), ("不明格式", "UMing"), (7, "UMing"), ("貓咪格式", "cwTeX")]
)
def test_version_picks_the_template(version, face, tmp_path):
    assert face in fonts(_render.render_pdf(request(版本=version), "n", SELLER), tmp_path)


@pytest.mark.parametrize(
    "bad, error, named",
    [
        ([], TypeError, "dict"),
        ({"買受人": ...}, ValueError, "買受人"),
        ({"買受人統一編號": 5}, TypeError, "買受人統一編號"),
        ({"品名": "原子筆"}, TypeError, "品名"),
        ({"數量": [1]}, ValueError, "數量"),
        ({"單件價格": [15, "0"]}, TypeError, '"單件價格"[1]'),
        ({"數量": [True, 0]}, TypeError, '"數量"[0]'),
        ({"品名": ["a", None]}, TypeError, "品名"),
        ({"顯示負責人章": 1}, TypeError, "顯示負責人章"),
        ({"月": 2, "日": 30}, ValueError, "日"),
        ({"年": 1911}, ValueError, "年"),
        ({"年": "二〇二六年"}, ValueError, "年"),
        ({"日": 10**30}, ValueError, "日"),
        ({"日": 7.0}, TypeError, "日"),
        ({"存檔路徑": "/tmp/out\x00/"}, ValueError, "存檔路徑"),
        ({"存檔路徑": "/tmp/out\n/"}, ValueError, "U+000A"),
        ({"存檔路徑": "/tmp/\x9bout/"}, ValueError, "U+009B"),
        ({"備註": ["含運"]}, ValueError, "備註"),
        ({"備註": [1, ""]}, TypeError, '"備註"[0]'),
    ],
)
def test_malformed_requests_are_refused(bad, error, named):
    req = bad if isinstance(bad, list) else request(**bad)
    with pytest.raises(error, match=re.escape(named)):
        _render.render_pdf(req, "n", SELLER)


@pytest.mark.parametrize("seller, named", [("x", "dict"), ({**SELLER, "電話": None}, "電話"), ({"地址": "a"}, "商號名稱")])
def test_malformed_seller_is_refused(seller, named):
    with pytest.raises((TypeError, ValueError), match=named):
        _render.render_png(request(), "n", seller)


@pytest.mark.usefixtures("no_tk_garbage")
def test_renders_on_threads_beside_python():
    """The GIL is released while drawing: other threads render at the same time."""
    results, errors = [], []

    def work():
        try:
            results.extend(_render.render_png(request(), "n", SELLER) for _ in range(5))
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=work) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors and len(set(results)) == 1 and len(results) == 15
