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

STATE_WORDS = {"issued": "已開立", "void": "作廢", "unfinished": "未完成", "pending": "待完成"}


class CommandError(Exception):
    """A refusal the operator can act on; str() is the message."""


def add_commands(add_parser):
    """add_parser(name, help) makes a subcommand's parser."""
    def command(name, help_text):
        parser = add_parser(name, help_text)
        parser.add_argument("-o", "--output", metavar="FOLDER",
                            help=f"收據簿所在的資料夾 · the output folder that holds the book "
                                 f"(default: {batch.default_folder()})")
        return parser

    void = command("void", "作廢收據 · void an issued receipt: a 作廢 copy beside it, the book and the ledger "
                           "updated")
    void.add_argument("number", metavar="NUMBER", help="e.g. 收據-20261207-001")
    void.add_argument("--reason", required=True, help="why the receipt is void (printed on the copy)")
    reprint = command("reprint", "補印收據 · print a receipt again from the book, marked 補印, under a new file name")
    reprint.add_argument("number", metavar="NUMBER")
    listing = command("list", "列出收據 · list the receipts in the book")
    listing.add_argument("--month", metavar="YYYY-MM", help="only this month")
    listing.add_argument("--buyer", metavar="TEXT", default="",
                         help="only receipts whose buyer, buyer's 統一編號 or number holds TEXT")
    listing.add_argument("--format", choices=("table", "json", "csv"), default="table")
    summary = command("summary", "統計 · count and total the receipts of a month or a quarter")
    period = summary.add_mutually_exclusive_group(required=True)
    period.add_argument("--month", metavar="YYYY-MM")
    period.add_argument("--quarter", metavar="YYYYQn", help="e.g. 2026Q4")
    summary.add_argument("--format", choices=("table", "json"), default="table")
    ledger = command("ledger", "收據清冊 · the ledger 收據清冊.csv")
    ledger.add_argument("--rebuild", action="store_true", required=True,
                        help="write the ledger again from the book (replaces it in one step)")


def month_of(text):
    match = re.fullmatch(r"(\d{4})-(\d{2})", text or "")
    if not match or not 1 <= int(match[2]) <= 12:
        raise CommandError(f"--month {text!r} is not a month like 2026-12")
    return int(match[1]), int(match[2])


def period_of(args):
    """First and last day (ISO) of --month or --quarter."""
    if args.month:
        year, month = month_of(args.month)
        first, last = (year, month), (year, month)
    else:
        match = re.fullmatch(r"(\d{4})[Qq]([1-4])", args.quarter)
        if not match:
            raise CommandError(f"--quarter {args.quarter!r} is not a quarter like 2026Q4")
        year, quarter = int(match[1]), int(match[2])
        first, last = (year, 3 * quarter - 2), (year, 3 * quarter)
    end = calendar.monthrange(*last)[1]
    return f"{first[0]:04d}-{first[1]:02d}-01", f"{last[0]:04d}-{last[1]:02d}-{end:02d}"


def table(rows, header):
    """Columns padded by display width (a CJK character takes two)."""
    import unicodedata

    def width(text):
        return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)
    cells = [header] + [[str(c) for c in row] for row in rows]
    widths = [max(width(row[i]) for row in cells) for i in range(len(header))]
    return "\n".join("  ".join(c + " " * (w - width(c)) for c, w in zip(row, widths)).rstrip() for row in cells)


def show_list(rows, fmt):
    if fmt == "json":
        return json.dumps(rows, ensure_ascii=False, indent=1)
    if fmt == "csv":
        out = io.StringIO()
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["number", "date", "buyer", "buyer_tax_id", "total", "state", "files"])
        for r in rows:
            writer.writerow([r["number"], r["date"], r["buyer"], r["buyer_tax_id"], r["total"], r["state"],
                             "; ".join(r["files"])])
        return out.getvalue().rstrip("\n")
    return table([[r["number"], r["date"], r["buyer"], r["buyer_tax_id"], r["total"], STATE_WORDS[r["state"]]]
                  for r in rows], ["收據號碼", "日期", "買受人", "統一編號", "總額", "狀態"]) + f"\n{len(rows)} receipt(s)"


def show_summary(result, fmt):
    if fmt == "json":
        return json.dumps(result, ensure_ascii=False, indent=1)
    lines = [f"receipts issued: {result['receipts']}", f"void: {result['void']}", f"total: {result['total']}"]
    if result["days"]:
        lines += ["", table(sorted(result["days"].items()), ["日期", "總額"])]
    return "\n".join(lines)


def run(args):
    from receiptora import _book
    folder = args.output or batch.default_folder()
    try:
        if args.command in ("list", "summary", "ledger") and not os.path.isdir(folder):
            raise CommandError(f"there is no output folder {folder}")
        if args.command in ("void", "reprint", "ledger"):  # reading commands run no recovery
            recovered = _book.open(folder)
            for problem in recovered["problems"]:
                print(f"receiptora: {problem}", file=sys.stderr)
        if args.command == "void":
            files = _book.void(folder, args.number, args.reason)
            print(f"{args.number} is void" + (f"; the void copy is {', '.join(files)}" if files else ""))
        elif args.command == "reprint":
            files = _book.reprint(folder, args.number)
            print(f"{args.number} printed again: {', '.join(files)}")
        elif args.command == "list":
            month = ""
            if args.month:
                year, number = month_of(args.month)
                month = f"{year:04d}-{number:02d}"
            print(show_list(_book.list(folder, month, args.buyer), args.format))
        elif args.command == "summary":
            print(show_summary(_book.summary(folder, *period_of(args)), args.format))
        elif args.command == "ledger":
            lines = _book.rebuild_ledger(folder)
            print(f"{os.path.join(folder, '收據清冊.csv')} written again: {lines} line(s)")
    except KeyError as error:
        print(f"receiptora {args.command}: {error.args[0]}", file=sys.stderr)
        return 1
    except (CommandError, ValueError, OSError, RuntimeError) as error:
        print(f"receiptora {args.command}: {error}", file=sys.stderr)
        return 1
    return 0
