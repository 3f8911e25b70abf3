"""The commands a shop uses after issuing: `receiptora print` and the 收據簿 window."""
import sys

from receiptora.batch import default_folder


def add_output_argument(parser, what):
    parser.add_argument("-o", "--output", metavar="FOLDER",
                        help=f"{what} (預設 default: {default_folder()})")


def add_print_arguments(parser):
    parser.add_argument("numbers", nargs="+", metavar="NUMBER",
                        help="收據號碼，例如 收據-20261207-001 或 20261207-001 · receipt numbers")
    parser.add_argument("--printer", metavar="NAME", default="",
                        help="印表機名稱（預設：系統的預設印表機） · the printer (default: the system's default)")
    parser.add_argument("--copies", type=int, default=1, metavar="N",
                        help="每張收據印幾份（1 到 99） · copies of each receipt (1 to 99)")
    add_output_argument(parser, "收據所在的資料夾 · the output folder the receipts are in")


def run_print(args):
    from receiptora import _shop

    failed = 0
    for number, job, printer, error in _shop.print_receipts(args.output or default_folder(), args.numbers,
                                                            args.printer, args.copies):
        if error is None:
            print(f"{number}：已送到印表機 {printer}（工作 {job}）")
        else:
            failed += 1
            print(f"receiptora: {number} 未列印：{error}", file=sys.stderr)
    if failed:
        print("receiptora: 原因已寫入錯誤紀錄；收據本身沒有改變", file=sys.stderr)
    return 1 if failed else 0


def add_book_arguments(parser):
    add_output_argument(parser, "收據簿所在的資料夾 · the output folder that holds the book")


def run_book(args):
    from receiptora import _shop

    import customtkinter  # noqa: F401  (copies its shapes font before fontconfig first reads the folders)
    _shop.book_window(args.output or default_folder())
    return 0
