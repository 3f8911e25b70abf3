"""`receiptora render FILE…`: receipts from files, without the window.

A JSON file holds one receipt request (the window's thirteen keys) or a list of them. A CSV
file holds one item per line; the lines that share a 收據 value form one receipt. CSV files
are read as UTF-8 (with or without a byte-order mark) or else as Big5/CP950, which is what
a spreadsheet on a Taiwanese Windows machine saves. Cells are read as a spreadsheet writes
them: full-width digits, thousands separators (1,680), 民國 dates in either form; an
optional 備註 column gives each item its note. Problems are reported in Traditional
Chinese, each with its file and line.
"""
import csv
import contextlib
import datetime
import hashlib
import io
import json
import os
import re
import sys
import unicodedata

REQUIRED = ("收據", "買受人", "統一編號", "日期", "品名", "數量", "單價")
SWITCHES = {"顯示日期": True, "顯示免用統一發票章": False, "顯示負責人章": False}  # column: default
YES = {"是", "y", "yes", "true", "1", "v", "✓", "○"}
NO = {"否", "n", "no", "false", "0", "x", "✗", "×"}


class Place(str):
    """Where a receipt comes from ("file:line", "file: receipt 2"), with what identifies it
    on a re-run: the SHA-256 of the file's bytes and the receipt's 收據 value or its place in
    a JSON list."""

    def __new__(cls, text, digest="", label=""):
        place = super().__new__(cls, text)
        place.digest, place.label = digest, label
        return place


def batch_key(place, request):
    """The key the book keeps for a batch receipt: file digest, label and the receipt's day
    (today's, when the file left the date empty)."""
    day = (request.get("年"), request.get("月"), request.get("日"))
    if not all(isinstance(v, int) for v in day):
        today = datetime.date.today()
        day = (today.year, today.month, today.day)
    return f"{place.digest}:{place.label}:{day[0]:04d}-{day[1]:02d}-{day[2]:02d}"


class BadLine(ValueError):
    """A line that cannot become part of a receipt; str() says which and why."""


def default_folder():
    """The folder the window saves into: ~/quillmarkers/Receiptora/."""
    from receiptora import _numbers
    return _numbers.output_folder()


def decode(data):
    """UTF-8 (a byte-order mark is dropped), else CP950 (Big5 as Windows writes it)."""
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError:
        return data.decode("cp950")


def plain(text):
    """The cell as ASCII where it has an ASCII form: full-width digits, letters, slashes and
    commas, as a Chinese input method types them, become 0-9, a-z, / and ,."""
    return unicodedata.normalize("NFKC", text).strip()


GROUPED = re.compile(r"[+-]?\d{1,3}(?:,\d{3})+")  # 1,680 and -12,345,678: groups of three


def whole_number(text, column):
    from receiptora import _numbers
    cell = plain(text)
    if not cell:
        return 0  # a blank quantity or price counts as 0, as in the window
    if GROUPED.fullmatch(cell):
        cell = cell.replace(",", "")
    value = _numbers.read_whole_number(cell)
    if value is None:
        raise BadLine(f"{column} {text!r} 不是整數")
    return value


# 2026-12-07, 2026/12/07, 2026.12.07, 115/12/07 and 2026年12月7日, 115年12月7日, each also
# after 民國. A year below 1000 is a 民國 year; after 民國 it must be one.
DATE = re.compile(r"(民國)?\s*(\d{1,4})\s*(?:[-/.]\s*(\d{1,2})\s*[-/.]\s*(\d{1,2})|年\s*(\d{1,2})\s*月\s*(\d{1,2})\s*日?)")


def receipt_date(text):
    """The receipt's day as (year, month, day); a blank cell is today."""
    if not text.strip():
        today = datetime.date.today()
        return today.year, today.month, today.day
    found = DATE.fullmatch(plain(text))
    try:
        if not found:
            raise ValueError
        roc, year = found[1], int(found[2])
        month, day = (int(found[3]), int(found[4])) if found[3] else (int(found[5]), int(found[6]))
        if year < 1000:
            year += 1911
        elif roc:
            raise ValueError  # 民國 2026 is no year
        datetime.date(year, month, day)
    except ValueError:
        raise BadLine(f"日期 {text!r} 不是有效的日期（例如 2026-12-07、115/12/07 或 民國115年12月7日）") from None
    return year, month, day


def buyer_tax_id(text):
    """The buyer's 統一編號 in ASCII digits, or "" for a buyer without one. A wrong one would
    cost the buyer the receipt as an expense record, so the line is refused."""
    from receiptora import _numbers
    cell = plain(text)
    if cell and not _numbers.valid_tax_id(cell):
        hint = "；試算表可能去掉了開頭的 0，請把這一欄設為文字" if cell.isdigit() and len(cell) < 8 else ""
        raise BadLine(f"統一編號 {text!r} 不是有效的統一編號（8 位數字，檢查碼須正確{hint}）")
    return cell


def switch(text, column):
    word = text.strip().lower()
    if not word:
        return SWITCHES[column]
    if word in YES:
        return True
    if word in NO:
        return False
    raise BadLine(f"{column} {text!r} 應為「是」或「否」")


def templates():
    """The renderer's template names, the default first."""
    from receiptora import _render
    return _render.TEMPLATES


def template(text):
    names = templates()
    name = text.strip() or names[0]
    if name not in names:
        raise BadLine(f"版本 {text!r} 不是 {'、'.join(names)} 之一")
    return name


def receipt_fields(row):
    """What a CSV line says about its whole receipt."""
    year, month, day = receipt_date(row["日期"])
    fields = {"版本": template(row.get("版本") or ""), "買受人": row["買受人"], "買受人統一編號": buyer_tax_id(row["統一編號"])}
    fields.update({column: switch(row.get(column) or "", column) for column in SWITCHES})
    fields.update({"年": year, "月": month, "日": day})
    return fields


def read_csv(path, folder):
    """Returns ([(place, request)], [problem]) for one CSV file."""
    with open(path, "rb") as f:
        data = f.read()
    text, digest = decode(data), hashlib.sha256(data).hexdigest()
    reader = csv.reader(io.StringIO(text, newline=""))
    header = [name.strip() for name in next(reader, [])]
    missing = [name for name in REQUIRED if name not in header]
    if missing:
        return [], [f"{path}:1: 缺少欄位 {', '.join(missing)}"]

    receipts = {}  # 收據 value -> [first line, its cells, fields, items, bad]
    problems = []
    receipt_columns = [c for c in ("買受人", "統一編號", "日期", "版本", *SWITCHES) if c in header]
    line = reader.line_num
    for cells in reader:
        start, line = line + 1, reader.line_num
        if not any(cell.strip() for cell in cells):
            continue
        row = dict(zip(header, cells + [""] * (len(header) - len(cells))))
        key = row["收據"].strip()
        entry = receipts.get(key)
        try:
            if not key:
                raise BadLine("收據 欄是空的")
            if entry is None:
                entry = receipts[key] = [start, row, None, [], False]
                entry[2] = receipt_fields(row)
            else:  # later lines may leave the receipt's columns empty, but not contradict them
                for column in receipt_columns:
                    if row[column].strip() and row[column].strip() != entry[1][column].strip():
                        raise BadLine(f"{column} {row[column]!r} 與第 {entry[0]} 行 收據 {key!r} 的不同")
            entry[3].append((row["品名"], whole_number(row["數量"], "數量"), whole_number(row["單價"], "單價"),
                             row.get("備註", "").strip()))
        except BadLine as error:
            problems.append(f"{path}:{start}: {error}")
            if entry is not None:
                entry[4] = True

    from receiptora._numbers import REQUEST_KEYS  # the window's keys, in its order
    requests = []
    for key, (start, _, fields, items, bad) in receipts.items():
        if bad:
            problems.append(f"{path}:{start}: 收據 {key!r} 因上列錯誤未開立")
            continue
        values = dict(fields, 品名=[i[0] for i in items], 數量=[i[1] for i in items],
                      單件價格=[i[2] for i in items], 存檔路徑=folder)
        request = {k: values[k] for k in REQUEST_KEYS}
        if "備註" in header:
            request["備註"] = [i[3] for i in items]
        requests.append((Place(f"{path}:{start}", digest, f"收據={key}"), request))
    return requests, problems


def json_int(text):
    """An integer of the JSON text, of any length: Python's int() stops at 4300 digits."""
    from receiptora import _numbers
    return _numbers.read_whole_number(text)


def read_json(path, folder, explicit_folder):
    with open(path, "rb") as f:
        raw = f.read()
    digest = hashlib.sha256(raw).hexdigest()
    try:
        data = json.loads(decode(raw), parse_int=json_int)
    except RecursionError:
        raise ValueError("巢狀層數太多，不是收據請求 · nested too deeply to be a receipt request") from None
    entries = data if isinstance(data, list) else [data]
    requests, problems = [], []
    for number, request in enumerate(entries, 1):
        place = Place(f"{path}: receipt {number}" if isinstance(data, list) else str(path), digest,
                      f"#{number}" if isinstance(data, list) else "#")
        if not isinstance(request, dict):
            problems.append(f"{place}: not a receipt request (an object with the window's keys)")
            continue
        if explicit_folder or not request.get("存檔路徑"):
            request["存檔路徑"] = folder
        requests.append((place, request))
    return requests, problems


def read_files(paths, folder, explicit_folder=False):
    """All requests of all files, and every problem found on the way."""
    requests, problems = [], []
    for path in paths:
        try:
            if str(path).lower().endswith(".json"):
                found, bad = read_json(path, folder, explicit_folder)
            else:
                found, bad = read_csv(path, folder)
        except (OSError, ValueError, csv.Error) as error:
            found, bad = [], [f"{path}: {error}"]
        requests += found
        problems += bad
    return requests, problems


def usable_jobs(asked, receipts):
    """Threads for `asked` jobs: at least one, at most the processors this process may run on
    (more only waits for them) and the receipts to make."""
    try:
        processors = len(os.sched_getaffinity(0))
    except (AttributeError, OSError):
        processors = os.cpu_count() or 1
    return max(1, min(asked, processors, receipts))


def add_arguments(parser):
    parser.description = "由 JSON 或 CSV 檔開立收據，不開視窗。 · Receipts from JSON or CSV files, without the window."
    # Written when help is asked for: the template names come from the renderer, which only
    # then needs loading.
    real_format_help = parser.format_help
    parser.format_help = lambda: setattr(parser, "epilog", epilog()) or real_format_help()
    parser.add_argument("files", nargs="+", metavar="FILE", help="JSON 或 CSV 檔 · JSON or CSV files")
    parser.add_argument("-o", "--output", metavar="FOLDER",
                        help=f"收據存放的資料夾 · where the receipts go (default: {default_folder()})")
    parser.add_argument("--again", action="store_true",
                        help="連同先前已開立的也全部重新開立 · issue every receipt anew, also those a run of "
                             "the same file issued before")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1,
                        help="同時繪製的收據數，最多為處理器數 · receipts made at once "
                             "(default and most: the number of processors)")


def epilog():
    return (
        "CSV 檔：每行一項商品，收據 欄相同的各行合為一張收據（UTF-8 或 Big5）。\n"
        "CSV files: one item per line; the lines with the same 收據 form one receipt (UTF-8 or Big5).\n"
        f"  必要欄位 · required columns: {', '.join(REQUIRED)}\n"
        f"  選用欄位 · optional columns: 版本（{'／'.join(templates())}）, {', '.join(SWITCHES)}（是／否）, "
        "備註（每項商品的備註 · each item's note）\n"
        "  統一編號須正確（8 位數字與檢查碼），錯誤的一行不開立 · a wrong buyer's 統一編號 refuses the line\n"
        "  同一張收據的後續各行可將 買受人、統一編號、日期 與選用欄位留白。\n"
        "  Later lines of a receipt may leave its buyer, 統一編號, date and options empty.\n"
        "日期寫法 · date forms: 2026-12-07, 2026/12/07, 2026.12.07, 115/12/07, 民國 115/12/07, "
        "民國115年12月7日, 115年12月7日, 2026年12月7日；留白為今天 · empty: today\n"
        "數字可含千分位與全形數字 · numbers may have thousands separators (1,680) and full-width digits\n"
        "JSON 檔：一張收據請求，或請求的清單 · JSON files: one receipt request or a list of them.")


def log_failures(problems):
    """Writes the run's failures to the error log (they are on standard error already)."""
    if not problems:
        return
    import quillmarkers_model

    def receiptora_render():
        raise RuntimeError("receiptora render: " + "\n".join(problems))
    with contextlib.redirect_stderr(io.StringIO()):
        quillmarkers_model.Try_Except_Model().try_except_log(receiptora_render)()


PROFILE = "賣方資料.toml"


def borrow_profile(folder):
    """A folder without a seller profile gets a copy of the default output folder's, so its
    receipts carry the shop's details; returns the profile copied, or None."""
    source = os.path.join(default_folder(), PROFILE)
    target = os.path.join(folder, PROFILE)
    try:
        if os.path.lexists(target) or not os.path.isfile(source):  # the default folder itself included
            return None
        with open(source, "rb") as f:
            data = f.read()
        os.makedirs(folder, exist_ok=True)
        with open(target, "xb") as f:  # never replaces a profile made meanwhile
            f.write(data)
    except (OSError, ValueError):  # no such folder can be made: its receipts report that themselves
        return None
    return source


def run(args):
    import quillmarkers_model
    from tqdm import tqdm

    folder = args.output or default_folder()
    requests, problems = read_files(args.files, folder, explicit_folder=bool(args.output))
    for target in sorted({r.get("存檔路徑") for _, r in requests if isinstance(r.get("存檔路徑"), str)}):
        if source := borrow_profile(target):
            print(f"receiptora: {target} 沒有賣方資料，已複製預設輸出資料夾的 {source} "
                  f"(no seller profile there: the default output folder's was copied)", file=sys.stderr)
    keys = [batch_key(place, request) if isinstance(place, Place) else "" for place, request in requests]
    with tqdm(total=len(requests), unit="receipt", file=sys.stderr,
              disable=not (sys.stderr.isatty() and len(requests) > 5)) as bar:
        results, run_problems = quillmarkers_model.issue_receipts(
            [request for _, request in requests], jobs=usable_jobs(args.jobs, len(requests)), progress=bar.update,
            keys=keys, again=args.again)
    made, skipped = [], 0
    for (place, _), result in zip(requests, results):
        if isinstance(result, str) and result:
            made.append(result)
        elif result == "":
            skipped += 1
        elif result is None:
            problems.append(f"{place}: 未開立（執行先被停止）")
        else:
            problems.append(f"{place}: {result}")
    for problem in run_problems:
        print(f"receiptora: {problem}", file=sys.stderr)
    for problem in problems:
        print(problem, file=sys.stderr)
    log_failures(run_problems + problems)
    if made:
        print("開立：" + "、".join(made))
    if skipped:
        print(f"略過 {skipped} 張：同一檔案先前已開立（--again 全部重新開立）")
    if problems:
        print(f"{len(problems)} 項未能開立，列於上方，也寫入錯誤紀錄")
    print(f"已開立 {len(made)} 張收據，存於 {folder}")
    return 0 if not problems else 1
