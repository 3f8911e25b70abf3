"""`receiptora render FILE…`: receipts from files, without the window.

A JSON file holds one receipt request (the window's thirteen keys) or a list of them. A CSV
file holds one item per line; the lines that share a 收據 value form one receipt. CSV files
are read as UTF-8 (with or without a byte-order mark) or else as Big5/CP950, which is what
a spreadsheet on a Taiwanese Windows machine saves.
"""
import csv
import contextlib
import datetime
import hashlib
import io
import json
import os
import sys

REQUIRED = ("收據", "買受人", "統一編號", "日期", "品名", "數量", "單價")
SWITCHES = {"顯示日期": True, "顯示免用統一發票章": False, "顯示負責人章": False}  # column: default
TEMPLATES = ("一般格式", "貓咪格式")
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
    if sys.platform == "win32":
        return "C:/quillmarkers/Receiptora/"
    import pwd
    # As the window forms it: $HOME when set and not empty, else the account's home.
    home = os.environ.get("HOME") or pwd.getpwuid(os.getuid()).pw_dir or "/"
    return home.rstrip("/") + "/quillmarkers/Receiptora/"


def decode(data):
    """UTF-8 (a byte-order mark is dropped), else CP950 (Big5 as Windows writes it)."""
    try:
        return data.decode("utf-8-sig")
    except UnicodeDecodeError:
        return data.decode("cp950")


def whole_number(text, column):
    from receiptora import _numbers
    if not text.strip():
        return 0  # a blank quantity or price counts as 0, as in the window
    value = _numbers.read_whole_number(text)
    if value is None:
        raise BadLine(f"{column} {text!r} is not a whole number")
    return value


def receipt_date(text):
    """2026-12-07, 2026/12/07 or 2026.12.07; a year below 1000 is a 民國 year (115/12/07)."""
    if not text.strip():
        today = datetime.date.today()
        return today.year, today.month, today.day
    parts = text.strip().replace("/", "-").replace(".", "-").split("-")
    try:
        year, month, day = (int(p) for p in parts)
        if year < 1000:
            year += 1911
        datetime.date(year, month, day)
    except ValueError:
        raise BadLine(f"日期 {text!r} is not a date like 2026-12-07 or 115/12/07") from None
    return year, month, day


def switch(text, column):
    word = text.strip().lower()
    if not word:
        return SWITCHES[column]
    if word in YES:
        return True
    if word in NO:
        return False
    raise BadLine(f"{column} {text!r} is neither 是 nor 否")


def template(text):
    name = text.strip() or TEMPLATES[0]
    if name not in TEMPLATES:
        raise BadLine(f"版本 {text!r} is not one of {', '.join(TEMPLATES)}")
    return name


def receipt_fields(row):
    """What a CSV line says about its whole receipt."""
    year, month, day = receipt_date(row["日期"])
    fields = {"版本": template(row.get("版本") or ""), "買受人": row["買受人"], "買受人統一編號": row["統一編號"].strip()}
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
        return [], [f"{path}:1: missing column(s) {', '.join(missing)}"]

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
                raise BadLine("the 收據 column is empty")
            if entry is None:
                entry = receipts[key] = [start, row, None, [], False]
                entry[2] = receipt_fields(row)
            else:  # later lines may leave the receipt's columns empty, but not contradict them
                for column in receipt_columns:
                    if row[column].strip() and row[column].strip() != entry[1][column].strip():
                        raise BadLine(f"{column} {row[column]!r} differs from line {entry[0]} of 收據 {key!r}")
            entry[3].append((row["品名"], whole_number(row["數量"], "數量"), whole_number(row["單價"], "單價")))
        except BadLine as error:
            problems.append(f"{path}:{start}: {error}")
            if entry is not None:
                entry[4] = True

    requests = []
    for key, (start, _, fields, items, bad) in receipts.items():
        if bad:
            problems.append(f"{path}:{start}: receipt {key!r} was not made because of the line(s) above")
            continue
        request = {"版本": fields["版本"], "買受人": fields["買受人"], "買受人統一編號": fields["買受人統一編號"],
                   "品名": [i[0] for i in items], "數量": [i[1] for i in items], "單件價格": [i[2] for i in items],
                   "存檔路徑": folder}
        request.update({k: fields[k] for k in ("顯示免用統一發票章", "顯示負責人章", "顯示日期", "年", "月", "日")})
        requests.append((Place(f"{path}:{start}", digest, f"收據={key}"), request))
    return requests, problems


def read_json(path, folder, explicit_folder):
    with open(path, "rb") as f:
        raw = f.read()
    data, digest = json.loads(decode(raw)), hashlib.sha256(raw).hexdigest()
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


def add_arguments(parser):
    parser.description = "由 JSON 或 CSV 檔開立收據，不開視窗。 · Receipts from JSON or CSV files, without the window."
    parser.epilog = (
        "CSV 檔：每行一項商品，收據 欄相同的各行合為一張收據（UTF-8 或 Big5）。\n"
        "CSV files: one item per line; the lines with the same 收據 form one receipt (UTF-8 or Big5).\n"
        f"  必要欄位 · required columns: {', '.join(REQUIRED)}\n"
        f"  選用欄位 · optional columns: 版本（{'／'.join(TEMPLATES)}）, {', '.join(SWITCHES)}（是／否）\n"
        "  同一張收據的後續各行可將 買受人、統一編號、日期 與選用欄位留白。\n"
        "  Later lines of a receipt may leave its buyer, 統一編號, date and options empty.\n"
        "日期寫法 · date forms: 2026-12-07, 2026/12/07, 2026.12.07；民國 115/12/07；"
        "留白為今天 · empty: today\n"
        "JSON 檔：一張收據請求，或請求的清單 · JSON files: one receipt request or a list of them.")
    parser.add_argument("files", nargs="+", metavar="FILE", help="JSON 或 CSV 檔 · JSON or CSV files")
    parser.add_argument("-o", "--output", metavar="FOLDER",
                        help=f"收據存放的資料夾 · where the receipts go (default: {default_folder()})")
    parser.add_argument("--again", action="store_true",
                        help="連同先前已開立的也全部重新開立 · issue every receipt anew, also those a run of "
                             "the same file issued before")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1,
                        help="同時繪製的收據數 · receipts made at once (default: the number of processors)")


def log_failures(problems):
    """Writes the run's failures to the error log (they are on standard error already)."""
    if not problems:
        return
    import quillmarkers_model

    def receiptora_render():
        raise RuntimeError("receiptora render: " + "\n".join(problems))
    with contextlib.redirect_stderr(io.StringIO()):
        quillmarkers_model.Try_Except_Model().try_except_log(receiptora_render)()


def run(args):
    import quillmarkers_model
    from tqdm import tqdm

    folder = args.output or default_folder()
    requests, problems = read_files(args.files, folder, explicit_folder=bool(args.output))
    keys = [batch_key(place, request) if isinstance(place, Place) else "" for place, request in requests]
    with tqdm(total=len(requests), unit="receipt", file=sys.stderr,
              disable=not (sys.stderr.isatty() and len(requests) > 5)) as bar:
        results, run_problems = quillmarkers_model.issue_receipts(
            [request for _, request in requests], jobs=max(1, args.jobs), progress=bar.update,
            keys=keys, again=args.again)
    made, skipped = [], 0
    for (place, _), result in zip(requests, results):
        if isinstance(result, str) and result:
            made.append(result)
        elif result == "":
            skipped += 1
        elif result is None:
            problems.append(f"{place}: not issued (the run was stopped first)")
        else:
            problems.append(f"{place}: {result}")
    for problem in run_problems:
        print(f"receiptora: {problem}", file=sys.stderr)
    for problem in problems:
        print(problem, file=sys.stderr)
    log_failures(run_problems + problems)
    if made:
        print("issued: " + ", ".join(made))
    if skipped:
        print(f"{skipped} receipt(s) skipped: issued by an earlier run of the same file (--again issues them anew)")
    if problems:
        print(f"{len(problems)} refused; see above and the error log")
    print(f"{len(made)} receipt(s) saved in {folder}")
    return 0 if not problems else 1
