"""The receipt book commands: `receiptora void|reprint|list|summary|ledger`.

The book 收據簿.sqlite3 in the output folder keeps every receipt whole; these commands read
it and write to it through receiptora._book (the logic is in C++).
"""
import calendar
import csv
import io
import json
import os
import re
import sys

from receiptora import batch
from receiptora.messages import printable, said, shown

STATE_WORDS = {"issued": "已開立", "void": "作廢", "unfinished": "未完成", "pending": "待完成"}


class CommandError(Exception):
    """A refusal the operator can act on; str() is the message."""


def add_folder_argument(parser):
    parser.add_argument("-o", "--output", metavar="FOLDER",
                        help=f"收據簿所在的資料夾 · the output folder that holds the book "
                             f"(預設 default: {batch.default_folder()})")


def add_void_arguments(parser):
    parser.add_argument("number", metavar="NUMBER", nargs="*",
                        help="收據號碼，可寫多個 · the receipts' numbers, e.g. 收據-20261207-001")
    parser.add_argument("--run", metavar="FILE",
                        help="作廢一次批次開立的每一張收據：它的 開立結果-….csv · void every receipt a batch run "
                             "issued, from its result table")
    parser.add_argument("--reason", required=True, metavar="作廢原因",
                        help="作廢原因，印在作廢副本上 · why the receipts are void (printed on the copies)")
    parser.add_argument("--yes", action="store_true",
                        help="作廢一次執行的收據時不再詢問 · void a run's receipts without asking")
    add_folder_argument(parser)


RUN_NAME = re.compile(re.escape(batch.TABLE_PREFIX) + r"(\d{8}-\d{6}(?:-\d+)?)\.csv")


def run_of_table(path, folder):
    """The run a result table names (its file name's stamp) and its 已開立 lines (number,
    order); no lines when the table is gone: the book alone knows the run then."""
    if not os.path.lexists(path) and os.path.basename(path) == path:
        path = os.path.join(folder, path)  # a bare table name is looked up in the output folder
    match = RUN_NAME.fullmatch(os.path.basename(os.fsdecode(path)))
    if not match:
        raise CommandError(f"{shown(os.fsdecode(path))} 不是開立結果檔（檔名應為 開立結果-日期-時間.csv）")
    if not os.path.lexists(path):
        return match[1], None
    try:
        with open(path, encoding="utf-8-sig", newline="") as f:
            rows = list(csv.reader(f))
    except (OSError, UnicodeDecodeError, csv.Error) as error:
        raise CommandError(f"無法讀取開立結果 {shown(os.fsdecode(path))}（{said(error)}）") from None
    header = rows[0] if rows else []
    if not {"收據", "收據號碼", "狀態"} <= set(header):
        raise CommandError(f"{shown(os.fsdecode(path))} 不是開立結果檔（缺少 收據、收據號碼 或 狀態 欄）")
    order, number, state = header.index("收據"), header.index("收據號碼"), header.index("狀態")
    need = max(order, number, state)
    if "輸出資料夾" in header:  # a table names the folder its run issued into
        at = header.index("輸出資料夾")
        named = {row[at] for row in rows[1:] if len(row) > at and row[at]}
        here = os.path.realpath(folder)
        if any(os.path.realpath(other) != here for other in named):
            raise CommandError(f"{shown(os.fsdecode(path))} 是另一個輸出資料夾（{shown(sorted(named)[0])}）的開立結果，"
                               f"不是 {shown(os.fsdecode(folder))} 的：未作廢任何收據")
    from receiptora._numbers import typed_text_of_cell  # without the apostrophe before a formula start
    return match[1], [(row[number], typed_text_of_cell(row[order])) for row in rows[1:]
                      if len(row) > need and row[state] == batch.ISSUED]


def confirmed(question, yes):
    """--yes, or the operator's y at a terminal; a run without a terminal must say --yes."""
    if yes:
        return True
    if not sys.stdin.isatty():
        raise CommandError(f"{question}：確定要作廢時請加上 --yes")
    return input(f"{question}，確定作廢嗎？(y/N) ").strip().lower() in ("y", "yes", "是")


def void_run(args, folder):
    """Undoes a batch run: voids the receipts the book records for it (never what the table
    alone lists), names the table's lines the book does not back, and asks first."""
    from receiptora import _book
    run, lines = run_of_table(args.run, folder)
    plan = _book.plan_run_void(folder, run, lines or [])
    for number, why in plan["refused"]:
        print(f"receiptora void: 不作廢 {shown(number)}：{why}", file=sys.stderr)
    receipts = plan["receipts"]
    if not receipts:
        raise CommandError(f"收據簿裡沒有執行 {run} 開立且仍有效的收據" + ("" if lines is not None else
                           "（開立結果檔已不在，依收據簿查詢）"))
    if lines is None:
        print(f"開立結果檔已不在：依收據簿，執行 {run} 開立了下列收據")
    from receiptora import _numbers
    totals = [_numbers.read_whole_number(r["total"]) for r in receipts]
    unread = totals.count(None)  # said, never counted as 0
    total = grouped(sum(t for t in totals if t is not None)) + " 元" + (f"（另有 {unread} 張的總額無法讀取，未計入）"
                                                                      if unread else "")
    span = receipts[0]["number"] + (f" … {receipts[-1]['number']}" if len(receipts) > 1 else "")
    if not confirmed(f"將作廢執行 {run} 的 {len(receipts)} 張收據（{span}），合計 {total}", args.yes):
        raise CommandError("未作廢任何收據")
    return [r["number"] for r in receipts]


def add_reprint_arguments(parser):
    parser.add_argument("number", metavar="NUMBER", help="收據號碼 · the receipt's number")
    add_folder_argument(parser)


def add_list_arguments(parser):
    parser.add_argument("--month", metavar="115-12|2026-12", help="只列這個月 · only this month")
    parser.add_argument("--buyer", metavar="TEXT", default="",
                        help="只列買受人、統一編號或號碼含有 TEXT 的收據 · only receipts whose buyer, buyer's "
                             "統一編號 or number holds TEXT")
    parser.add_argument("--format", choices=("table", "json", "csv"), default="table",
                        help="表格、JSON 或 CSV · a table, JSON or CSV")
    add_folder_argument(parser)


def add_summary_arguments(parser):
    period = parser.add_mutually_exclusive_group(required=True)
    period.add_argument("--month", metavar="115-12|2026-12", help="這個月 · this month")
    period.add_argument("--quarter", metavar="115Q4|2026Q4", help="這一季，例如 115Q4 · this quarter, e.g. 2026Q4")
    parser.add_argument("--format", choices=("table", "json"), default="table",
                        help="表格或 JSON · a table or JSON")
    add_folder_argument(parser)


def add_month_arguments(parser):
    parser.add_argument("month", metavar="115-12|2026-12", help="哪一個月 · the month")
    parser.add_argument("--to", metavar="DEST", dest="dest",
                        help="資料夾放在這裡（預設：輸出資料夾） · where the folder goes (default: the output folder)")
    add_folder_argument(parser)


def add_ledger_arguments(parser):
    parser.add_argument("--rebuild", action="store_true", required=True,
                        help="由收據簿重寫收據清冊（一次換好） · write the ledger again from the book (in one step)")
    add_folder_argument(parser)


def add_backup_arguments(parser):
    parser.add_argument("dest", metavar="DEST",
                        help="備份放在這個資料夾裡的 收據備份-日期-時間 · the folder that gets the backup folder")
    add_folder_argument(parser)


def month_of(text):
    """(year, month) of a month in either calendar: 115-12, 115/12, 115年12月, 2026-12."""
    from receiptora import _numbers
    month = _numbers.read_month(text or "")
    if month is None:
        raise CommandError(f"「{shown(text or '')}」不是月份，請寫成 115-12 或 2026-12")
    return month


def day_of(text):
    """(year, month, day) of a day in either calendar: 115/12/05, 115-12-05, 2026-12-05."""
    from receiptora import _numbers
    day = _numbers.read_day(text or "")
    if day is None:
        raise CommandError(f"「{shown(text or '')}」不是日期，請寫成 115/12/05 或 2026-12-05")
    return day


def months_of(args):
    """The months (year, month) of --month or --quarter."""
    if args.month:
        return [month_of(args.month)]
    from receiptora import _numbers
    found = _numbers.read_quarter(args.quarter)
    if found is None:
        raise CommandError(f"「{shown(args.quarter)}」不是季別，請寫成 115Q4 或 2026Q4")
    year, quarter = found
    return [(year, month) for month in range(3 * quarter - 2, 3 * quarter + 1)]


def period_of(args):
    """First and last day (ISO) of --month or --quarter."""
    months = months_of(args)
    (first_year, first_month), (last_year, last_month) = months[0], months[-1]
    end = calendar.monthrange(last_year, last_month)[1]
    return f"{first_year:04d}-{first_month:02d}-01", f"{last_year:04d}-{last_month:02d}-{end:02d}"


def grouped(amount):
    """A whole amount (an int or its digit text) with thousands separators, as core writes
    figures: "-1234567" → "-1,234,567"."""
    from receiptora import _numbers
    return _numbers.grouped(amount)


def table(rows, header, right=()):
    """Columns padded by display width (a CJK character takes two); columns in `right` align right."""
    import unicodedata

    def width(text):
        return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)

    def pad(text, w, i):
        space = " " * (w - width(text))
        return space + text if i in right else text + space
    cells = [header] + [[str(c) for c in row] for row in rows]
    widths = [max(width(row[i]) for row in cells) for i in range(len(header))]
    return "\n".join("  ".join(pad(c, w, i) for i, (c, w) in enumerate(zip(row, widths))).rstrip()
                     for row in cells)


def show_list(rows, fmt):
    rows = [{key: printable(value) if key != "files" else [printable(f) for f in value] for key, value in row.items()}
            for row in rows]
    if fmt == "json":
        return json.dumps(rows, ensure_ascii=False, indent=1)
    if fmt == "csv":
        from receiptora._numbers import disarmed_cell  # the ledger's rule: a formula start gets an apostrophe
        out = io.StringIO()
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["number", "date", "buyer", "buyer_tax_id", "total", "state", "files"])
        for r in rows:
            writer.writerow([r["number"], r["date"], disarmed_cell(r["buyer"]), disarmed_cell(r["buyer_tax_id"]),
                             r["total"], r["state"], "; ".join(r["files"])])
        return out.getvalue().rstrip("\n")
    from receiptora import _numbers
    return table([[r["number"], _numbers.roc_day(r["date"]), r["buyer"], r["buyer_tax_id"], grouped(r["total"]),
                   STATE_WORDS[r["state"]]] for r in rows],
                 ["收據號碼", "日期", "買受人", "統一編號", "總額", "狀態"], right={4}) + f"\n共 {len(rows)} 張收據"


def show_summary(result, months, fmt):
    if fmt == "json":
        return json.dumps(result, ensure_ascii=False, indent=1)
    from receiptora import _numbers
    lines = [f"已開立：{grouped(result['receipts'])} 張", f"作廢：{grouped(result['void'])} 張",
             f"合計（不含作廢）：{grouped(result['total'])} 元"]
    sys.set_int_max_str_digits(0)  # totals have no digit limit
    if len(months) > 1:  # a quarter: its three months, each with its total
        totals = {f"{y:04d}-{m:02d}": 0 for y, m in months}
        for day, total in result["days"].items():
            totals[day[:7]] = totals.get(day[:7], 0) + int(total)
        lines += ["", table([[_numbers.roc_month(int(month[:4]), int(month[5:])), grouped(total)]
                             for month, total in totals.items()], ["月份", "合計"], right={1})]
    elif result["days"]:
        lines += ["", table([[_numbers.roc_day(day), grouped(total)] for day, total in sorted(result["days"].items())],
                            ["日期", "合計"], right={1})]
    return "\n".join(lines)


PATHS = {"output", "dest", "run", "files", "inputs", "key"}  # any bytes the file system takes


def check_texts(args):
    """Texts typed as arguments (numbers, 作廢原因, a search) must be text: bytes that are not
    UTF-8 reach Python as lone surrogates and are refused here, naming the argument."""
    for name, value in vars(args).items():
        for text in (value if isinstance(value, list) else [value]):
            if name not in PATHS and isinstance(text, str) and any("\udc80" <= c <= "\udcff" for c in text):
                raise CommandError(f"參數「{shown(text)}」不是有效的 UTF-8 文字，請重新輸入")


# Commands that only read the book: they open it for reading, create nothing and write nothing.
READING = {"list", "summary", "check", "month"}


def book_command(action):
    """A command on the output folder's book: recovery's notes, then `action(args, folder)`; a
    refusal or failure is one line on standard error and exit status 1."""
    def run(args):
        from receiptora import _book
        folder = args.output or batch.default_folder()
        try:
            check_texts(args)
            if not os.path.isdir(folder):
                raise CommandError(f"沒有輸出資料夾 {folder}：還沒有開立過收據 · there is no output folder")
            if not any(os.path.lexists(os.path.join(folder, name)) for name in ("收據簿.sqlite3", "收據清冊.csv")):
                raise CommandError(f"{folder} 沒有收據簿（還沒有開立過收據；--output 是否打錯？）")
            if args.command not in READING:  # recovery writes; reading commands never run it
                for problem in _book.open(folder)["problems"]:
                    print(f"receiptora: {problem}", file=sys.stderr)
            action(args, folder)
        except (CommandError, KeyError, ValueError, OSError, RuntimeError) as error:
            print(f"receiptora {args.command}: {said(error)}", file=sys.stderr)
            return 1
        return 0
    return run


@book_command
def run_void(args, folder):
    """Voids each number given and each the --run table issued, all with one reason; one that
    fails is named and the rest go on."""
    from receiptora import _book
    of_run = void_run(args, folder) if args.run else []
    numbers = list(dict.fromkeys(args.number))
    if not numbers and not of_run:
        raise CommandError("沒有要作廢的收據：請寫收據號碼，或 --run 開立結果檔")
    failed = []
    outcomes = _book.void_run(folder, of_run, args.reason) if of_run else []
    for number in numbers:
        try:
            outcomes.append({"number": number, "files": _book.void(folder, number, args.reason), "error": ""})
        except (KeyError, ValueError, OSError, RuntimeError) as error:
            outcomes.append({"number": number, "files": [], "error": said(error)})
    numbers = of_run + numbers
    for outcome in outcomes:
        number, files = outcome["number"], outcome["files"]
        if outcome["error"]:
            failed.append(f"{shown(number)}: {printable(outcome['error'])}")
        else:
            print(f"已作廢 {number}（作廢原因：{shown(args.reason)}）" + (f"，作廢副本 {'、'.join(files)}" if files else ""))
    if len(numbers) == 1 and failed:
        raise CommandError(failed[0])
    for failure in failed:
        print(f"receiptora void: {failure}", file=sys.stderr)
    if failed:
        raise CommandError(f"{len(failed)} 張未能作廢，列於上方")


@book_command
def run_reprint(args, folder):
    from receiptora import _book
    files = _book.reprint(folder, args.number)
    print(f"已補印 {args.number}：{'、'.join(files)}")


@book_command
def run_list(args, folder):
    from receiptora import _book
    month = ""
    if args.month:
        year, number = month_of(args.month)
        month = f"{year:04d}-{number:02d}"
    print(show_list(_book.list(folder, month, args.buyer), args.format))


@book_command
def run_summary(args, folder):
    from receiptora import _book
    print(show_summary(_book.summary(folder, *period_of(args)), months_of(args), args.format))


@book_command
def run_month(args, folder):
    from receiptora import _shop
    year, month = month_of(args.month)
    made = _shop.for_the_accountant(folder, year, month, args.dest)
    print(f"已整理給會計：{made['folder']}（{made['receipts']} 張收據，{made['pdfs']} 個 PDF）")
    print(made["verdict"])


@book_command
def run_ledger(args, folder):
    from receiptora import _book
    rebuilt = _book.rebuild_ledger(folder)
    print(f"已由收據簿重寫 {os.path.join(folder, '收據清冊.csv')}：{rebuilt['lines']} 行")
    if rebuilt["was_older"]:
        print("注意：原本的收據清冊是舊格式，作廢行的總額是正數；改寫後作廢行的總額為負數、"
              "並加上作廢原因，試算表加總「總額」就是已開立的合計")


@book_command
def run_backup(args, folder):
    from receiptora import _book
    made = _book.backup(folder, args.dest)
    print(f"已備份 {made['receipts']} 張收據與 {made['files']} 個檔案到 {made['folder']}"
          f"（收據簿已通過完整性檢查，{made['checked']} 個收據檔的 SHA-256 相符）")
    if made["left_out"]:
        print(f"備份是收據簿在某一刻的樣子：之後才開立完成的 {made['left_out']} 個收據檔不在這份備份裡")
    print("還原時把這個資料夾複製回來即可 · to restore, copy this folder back")


def add_check_arguments(parser):
    add_folder_argument(parser)


def run_check(args):
    """Audits the output folder, reading only: exit status 0 when everything agrees with the
    book, 1 otherwise, each fault named with its receipt and file."""
    from receiptora import _book
    folder = args.output or batch.default_folder()
    if not os.path.isdir(folder):
        print(f"receiptora check: 沒有輸出資料夾 {folder}", file=sys.stderr)
        return 1
    try:
        report = _book.check(folder)
    except (KeyError, ValueError, OSError, RuntimeError, MemoryError) as error:
        print(f"receiptora check: 收據簿無法檢查：{said(error)}", file=sys.stderr)
        return 1
    if report is None:
        print(f"receiptora check: {folder} 沒有收據簿（還沒有開立過收據）", file=sys.stderr)
        return 1
    print(f"檢查 {folder}：收據 {report['receipts']} 張，檔案 {report['files']} 個，"
          f"收據清冊 {report['ledger_lines']} 行")
    if report["chain_links"] or not report["chain_whole"]:
        print(f"驗證鏈完整：{report['chain_links']:,} 張" if report["chain_whole"]
              else f"驗證鏈斷開：斷開前有 {report['chain_links']:,} 張簽章相符")
    if report["chain_note"]:
        print(report["chain_note"])
    for fault in report["faults"]:
        print("  " + "  ".join(printable(part) for part in (fault["number"], fault["file"], fault["problem"]) if part))
    if report["faults"]:
        print(f"發現 {len(report['faults'])} 個問題")
        return 1
    print("全部相符：每張收據的檔案與 SHA-256、收據清冊、每天的號碼都與收據簿一致，沒有待完成的收據")
    return 0


def add_verify_arguments(parser):
    parser.add_argument("inputs", nargs="+", metavar="FILE",
                        help="收據的 PDF、圖片（掃描或手機照片）或驗證碼文字 · a receipt's PDF, a picture of it, "
                             "or its code's text")
    parser.add_argument("--key", default="", metavar="驗證卡|FINGERPRINT",
                        help="商家的驗證卡（圖片或 PDF），或金鑰指紋；預設用輸出資料夾的金鑰 · the shop's "
                             "verification card or key fingerprint (default: the output folder's key)")
    add_folder_argument(parser)


def run_verify(args):
    """Verifies each receipt given, one answer per line group: exit status 0 when every one is
    genuine, 1 otherwise."""
    from receiptora import _verify
    folder = args.output or batch.default_folder()
    try:
        check_texts(args)
        answers = _verify.verify(os.fsencode(folder), [os.fsencode(i) for i in args.inputs], os.fsencode(args.key))
    except (CommandError, ValueError, OSError, RuntimeError) as error:
        print(f"receiptora verify: {said(error)}", file=sys.stderr)
        return 1
    for _, text in answers:
        for line in text.split("\n"):
            print(printable(line))
    return 0 if all(genuine for genuine, _ in answers) else 1


def add_key_arguments(parser):
    parser.add_argument("action", choices=["card"],
                        help="card：製作驗證卡 驗證卡.pdf 與 驗證卡.png · make the verification card")
    add_folder_argument(parser)


def run_key(args):
    """Writes the shop's verification card into the output folder and names its files."""
    from receiptora import _verify
    folder = args.output or batch.default_folder()
    try:
        os.makedirs(folder, exist_ok=True)
        written = _verify.key_card(os.fsencode(folder))
    except (ValueError, OSError, RuntimeError) as error:
        print(f"receiptora key: {said(error)}", file=sys.stderr)
        return 1
    print("已製作驗證卡：" + "、".join(written))
    print("把驗證卡交給買方或會計師，他們就能用 receiptora verify --key 驗證卡.png 收據.pdf 驗證本店的收據")
    return 0
