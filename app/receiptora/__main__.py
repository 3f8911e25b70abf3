"""The `receiptora` command.

    receiptora                 the receipt window with its receipt worker: a press saves a receipt
    receiptora --standalone    the window alone: a press prints the receipt request
    receiptora render FILE…    receipts from JSON or CSV files, without the window
    receiptora book            the 收據簿 window: the receipts of a month, print, void, export
    receiptora print NUMBER…   receipts sent to the printer (CUPS)
    receiptora void NUMBER --reason TEXT | reprint NUMBER | list | summary | ledger --rebuild
                               the receipt book 收據簿.sqlite3 of the output folder
    receiptora install-launchers   menu entries with icons for 收據 and 收據簿
    receiptora profile         the seller profile in a form (also before the very first window)
    receiptora help            the local copy of the help page
    receiptora --version       the installed version
"""
import argparse
import importlib.util
import os
import queue
import sys
import threading

WAIT_SECONDS = 30  # for the worker to finish what was queued once the window has closed


class NoDisplay(Exception):
    """The window cannot open: there is no display, or it refused the connection."""


def check_display():
    if sys.platform not in ("win32", "darwin") and not os.environ.get("DISPLAY"):
        raise NoDisplay("no display (DISPLAY is not set)")


def is_display_error(error):
    import tkinter
    text = str(error)
    return isinstance(error, tkinter.TclError) and ("display" in text or "DISPLAY" in text)


def run_standalone():
    """Loads the window module as the main program, which opens the window itself."""
    found = importlib.util.find_spec("GUI")
    if found is None or found.origin is None:
        raise ImportError("the Receiptora window module GUI is not installed")
    spec = importlib.util.spec_from_file_location("__main__", found.origin)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)  # returns when the window is closed
    return 0


def run_app():
    """The window with the receipt worker beside it; waits for the worker after the window."""
    # customtkinter copies its shapes font into ~/.fonts when it is imported. The worker's
    # renderer starts fontconfig, which reads the font folders once per process: imported
    # after that, a new home folder's first window would draw its check marks and switches
    # with fallback glyphs.
    import customtkinter  # noqa: F401
    import quillmarkers_model

    if first_start():
        run_profile_form(first_start=True)  # before the receipt window; may be skipped

    queues = {"get_receipt": queue.Queue(), "end": queue.Queue()}
    events = {"get_receipt": threading.Event(), "end": threading.Event()}
    worker = quillmarkers_model.Receipt_Worker(queues["get_receipt"], events["get_receipt"])
    worker.start()
    try:
        import GUI
        GUI.GUI(queues, events)
    except BaseException:
        queues["get_receipt"].put(None)  # the window did not close normally: end the worker too
        if not worker.join(WAIT_SECONDS):
            worker.abandon()
        raise
    if worker.join(WAIT_SECONDS):
        return 0
    waiting = worker.unfinished
    worker.abandon()
    print(f"receiptora: {waiting} receipt(s) still unfinished after {WAIT_SECONDS} s; "
          f"they are listed in the error log {worker.error_log.log_path}", file=sys.stderr, flush=True)
    sys.stdout.flush()
    os._exit(1)  # the worker thread is still inside the renderer: leave without finalising it


def profile_folder():
    from receiptora import batch
    return batch.default_folder()


def first_start():
    """No seller profile in the output folder yet: the shop has never issued a receipt."""
    from receiptora import batch
    return not os.path.lexists(os.path.join(profile_folder(), batch.PROFILE))


def run_profile_form(first_start=False):
    from receiptora import _shop
    _shop.profile_form(profile_folder(), first_start)
    return 0


def version():
    from importlib import metadata
    return metadata.version("receiptora")


def help_page():
    """The help page shipped with the package (docs/help in the source tree)."""
    from pathlib import Path
    return Path(__file__).resolve().parent / "help" / "index.md"


def open_help():
    import webbrowser
    page = help_page()
    if not page.is_file():
        print(f"receiptora: 找不到說明檔 · help file missing: {page}", file=sys.stderr)
        return 1
    print(page)
    webbrowser.open(page.as_uri())
    return 0


class ChineseHelpFormatter(argparse.RawDescriptionHelpFormatter):
    def add_usage(self, usage, actions, groups, prefix=None):
        super().add_usage(usage, actions, groups, "用法 · usage: " if prefix is None else prefix)


def chinese_parser(parser):
    """Chinese section titles and -h beside argparse's own English ones."""
    parser._positionals.title = "參數 · arguments"
    parser._optionals.title = "選項 · options"
    parser.add_argument("-h", "--help", action="help", help="顯示本說明 · show this help")
    return parser


def main(argv=None):
    parser = chinese_parser(argparse.ArgumentParser(
        prog="receiptora", add_help=False, formatter_class=ChineseHelpFormatter,
        description="Receiptora 免用統一發票收據：開啟收據視窗，或不開視窗由檔案開立收據。\n"
                    "Receiptora: the receipt window, or receipts from files without it."))
    parser.add_argument("--version", action="version", version=f"receiptora {version()}",
                        help="顯示版本 · show the version")
    parser.add_argument("--standalone", action="store_true",
                        help="只開視窗：按「輸出單據」只印出收據請求 · the window alone: a press prints the request")
    commands = parser.add_subparsers(dest="command", title="指令 · commands")
    render = chinese_parser(commands.add_parser(
        "render", add_help=False, formatter_class=ChineseHelpFormatter,
        help="由 JSON 或 CSV 檔開立收據，不開視窗 · receipts from JSON or CSV files, without the window"))
    from receiptora import batch
    batch.add_arguments(render)
    chinese_parser(commands.add_parser(
        "profile", add_help=False, formatter_class=ChineseHelpFormatter,
        help="填寫或修改賣方資料（商號、統一編號、印章） · edit the seller profile in a form"))
    chinese_parser(commands.add_parser(
        "help", add_help=False, formatter_class=ChineseHelpFormatter,
        help="開啟本機的使用說明 · open the local help page"))
    from receiptora import shop
    shop.add_print_arguments(chinese_parser(commands.add_parser(
        "print", add_help=False, formatter_class=ChineseHelpFormatter,
        help="把收據送到印表機 · send receipts to the printer")))
    shop.add_book_arguments(chinese_parser(commands.add_parser(
        "book", add_help=False, formatter_class=ChineseHelpFormatter,
        help="開啟收據簿視窗 · the 收據簿 window: list, print, void, export")))
    launchers = chinese_parser(commands.add_parser(
        "install-launchers", add_help=False, formatter_class=ChineseHelpFormatter,
        help="把「收據」與「收據簿」加入桌面選單 · add 收據 and 收據簿 to the desktop's menu"))
    launchers.add_argument("--data-home", metavar="FOLDER",
                           help="instead of $XDG_DATA_HOME (default ~/.local/share)")
    from receiptora import book
    book.add_commands(lambda name, text: chinese_parser(commands.add_parser(
        name, add_help=False, formatter_class=ChineseHelpFormatter, help=text)))
    args = parser.parse_args(argv)

    if args.command == "render":
        return batch.run(args)
    if args.command == "help":
        return open_help()
    if args.command == "print":
        return shop.run_print(args)
    if args.command == "book":
        try:
            check_display()
            return shop.run_book(args)
        except NoDisplay as error:
            print(f"receiptora: cannot open the window: {error}", file=sys.stderr)
            return 1
    if args.command == "install-launchers":
        from receiptora import launchers as launcher_files
        return launcher_files.run(args)
    if args.command is not None:
        return book.run(args)
    try:
        check_display()
        if args.command == "profile":
            return run_profile_form()
        return run_standalone() if args.standalone else run_app()
    except NoDisplay as error:
        print(f"receiptora: cannot open the window: {error}", file=sys.stderr)
        return 1
    except Exception as error:
        if not is_display_error(error):
            raise
        print(f"receiptora: cannot open the window: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
