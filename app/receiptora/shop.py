"""The commands a shop uses after issuing: `receiptora print`."""
import sys

from receiptora.batch import default_folder


def add_print_arguments(parser):
    parser.add_argument("numbers", nargs="+", metavar="NUMBER",
                        help="receipt numbers, e.g. 收據-20261207-001 or 20261207-001")
    parser.add_argument("--printer", metavar="NAME", default="",
                        help="the printer (default: the system's default printer)")
    parser.add_argument("--copies", type=int, default=1, metavar="N", help="copies of each receipt (1 to 99)")
    parser.add_argument("-o", "--output", metavar="FOLDER",
                        help=f"the output folder the receipts are in (default: {default_folder()})")


def run_print(args):
    from receiptora import _shop

    failed = 0
    for number, job, printer, error in _shop.print_receipts(args.output or default_folder(), args.numbers,
                                                            args.printer, args.copies):
        if error is None:
            print(f"{number}: sent to {printer} (job {job})")
        else:
            failed += 1
            print(f"receiptora: {number} not printed: {error}", file=sys.stderr)
    if failed:
        print("receiptora: the reasons are in the error log; the receipts themselves are unchanged",
              file=sys.stderr)
    return 1 if failed else 0


def add_book_arguments(parser):
    parser.add_argument("-o", "--output", metavar="FOLDER",
                        help=f"the output folder that holds the book (default: {default_folder()})")


def run_book(args):
    from receiptora import _shop

    import customtkinter  # noqa: F401  (copies its shapes font before fontconfig first reads the folders)
    _shop.book_window(args.output or default_folder())
    return 0
