"""The `receiptora` command.

    receiptora                 the receipt window with its receipt worker: a press saves a receipt
    receiptora --standalone    the window alone: a press prints the receipt request
    receiptora COMMAND …       one row of COMMANDS below (`receiptora --help` lists them)

Every command is one row of COMMANDS: its name, its one-line help, the function that adds its
arguments and the function that runs it. The parser stores each row's handler with its
subcommand, so a command can only ever reach its own handler. The help page's command table
and the command-line smoke test are made from the same rows.
"""
import argparse
import importlib.util
import os
import queue
import sys
import threading
from dataclasses import dataclass
from typing import Callable

from receiptora import batch, book_commands, hand_over, launchers, shop

WAIT_SECONDS = 30  # for the worker to finish what was queued once the window has closed


class NoDisplay(Exception):
    """The window cannot open: there is no display, or it refused the connection."""


def check_display():
    if sys.platform not in ("win32", "darwin") and not os.environ.get("DISPLAY"):
        raise NoDisplay("沒有顯示器（DISPLAY 未設定） · no display (DISPLAY is not set)")


def is_display_error(error):
    import tkinter
    text = str(error)
    return isinstance(error, tkinter.TclError) and ("display" in text or "DISPLAY" in text)


def no_window(error):
    print(f"receiptora: 無法開啟視窗 · cannot open the window: {error}", file=sys.stderr)
    return 1


def in_a_window(run):
    """A handler that opens a window: without a display it says so in one line (status 1)."""
    def run_window(*args):
        try:
            check_display()
            return run(*args)
        except NoDisplay as error:
            return no_window(error)
        except Exception as error:
            if not is_display_error(error):
                raise
            return no_window(error)
    return run_window


def run_standalone():
    """Loads the window module as the main program, which opens the window itself."""
    found = importlib.util.find_spec("GUI")
    if found is None or found.origin is None:
        raise ImportError("收據視窗模組 GUI 沒有安裝，請重新安裝 Receiptora · the window module GUI is not installed")
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

    # The window's slips are guarded around it: the queue notes each hand-over (a double press
    # is issued once) and the worker's answer is shown on the window as well as the desktop.
    quillmarkers_model.guard_slips()
    queues = {"get_receipt": hand_over.ReceiptQueue(on_put=quillmarkers_model.expect), "end": queue.Queue()}
    events = {"get_receipt": threading.Event(), "end": threading.Event()}
    worker = quillmarkers_model.Receipt_Worker(queues["get_receipt"], events["get_receipt"],
                                               feedback=quillmarkers_model.answer)
    worker.start()
    # The buyer and item entries suggest from the output folder's book while the operator types.
    quillmarkers_model.suggest_from(profile_folder())
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
    print(f"receiptora: 視窗關閉 {WAIT_SECONDS} 秒後仍有 {waiting} 張收據未完成，已列於錯誤紀錄 "
          f"{worker.error_log.log_path} · {waiting} receipt(s) still unfinished after {WAIT_SECONDS} s",
          file=sys.stderr, flush=True)
    sys.stdout.flush()
    os._exit(1)  # the worker thread is still inside the renderer: leave without finalising it


def profile_folder():
    return batch.default_folder()


def first_start():
    """No seller profile naming the shop in the output folder yet: nothing can be issued, so the
    profile form comes before the receipt window."""
    if not os.path.lexists(os.path.join(profile_folder(), batch.PROFILE)):
        return True
    from receiptora import _shop
    return not _shop.shop_named(profile_folder())


def run_profile_form(args=None, first_start=False):
    from receiptora import _shop
    _shop.profile_form(profile_folder(), first_start)
    return 0


def version():
    from importlib import metadata
    return metadata.version("receiptora")


def help_page():
    """The help page shipped with the package (made from docs/help when the package is built)."""
    from pathlib import Path
    folder = Path(__file__).resolve().parent / "help"
    page = folder / "index.html"
    return page if page.is_file() else folder / "index.md"


def open_help(args=None):
    import webbrowser
    page = help_page()
    if not page.is_file():
        print(f"receiptora: 找不到說明檔 · help file missing: {page}", file=sys.stderr)
        return 1
    print(page)
    if not webbrowser.open(page.as_uri()):
        print(f"receiptora: 無法開啟瀏覽器，請自行開啟 {page} · no browser could be started", file=sys.stderr)
        return 1
    return 0


def no_arguments(parser):
    return parser


@dataclass(frozen=True)
class Command:
    name: str
    help: str                              # one line: Chinese, then English after " · "
    arguments: Callable                    # adds the command's arguments to its parser
    run: Callable                          # args → exit status
    usage: str = ""                        # the arguments as the help page's table shows them
    example: tuple = ()                    # what the smoke test runs after the name; "{number}" is a receipt
    window: str = ""                       # the class of the window the command opens, if it opens one


COMMANDS = (
    Command("render", "由 JSON 或 CSV 檔開立收據，不開視窗 · receipts from JSON or CSV files, without the window",
            batch.add_arguments, batch.run, "FILE… [--output FOLDER] [--jobs N] [--again [ORDER…]]", ("{csv}",)),
    Command("profile", "填寫或修改賣方資料（商號、統一編號、印章） · edit the seller profile in a form",
            no_arguments, in_a_window(run_profile_form), window="receiptora"),
    Command("book", "開啟收據簿視窗：清單、列印、作廢、匯出 · the 收據簿 window: list, print, void, export",
            shop.add_book_arguments, in_a_window(shop.run_book), "[--output FOLDER]", window="receiptora-book"),
    Command("list", "列出收據簿裡的收據 · list the receipts in the book",
            book_commands.add_list_arguments, book_commands.run_list, "[--month 115-12] [--buyer TEXT] [--format table|json|csv]"),
    Command("summary", "統計一個月或一季的張數與金額 · count and total a month or a quarter",
            book_commands.add_summary_arguments, book_commands.run_summary, "--month 115-12 | --quarter 115Q4",
            ("--month", "{month}")),
    Command("month", "給會計：一個月的 Excel、月報表與收據清單、每張收據的 PDF，先檢查再放進一個資料夾 · the month "
            "for the accountant, checked, in one folder", book_commands.add_month_arguments, book_commands.run_month,
            "115-12 [--to DEST] [--output FOLDER]", ("{month}", "--to", "{backup}")),
    Command("void", "作廢收據：旁邊存一份作廢副本，收據簿與收據清冊一併更新 · void an issued receipt",
            book_commands.add_void_arguments, book_commands.run_void, "NUMBER… | --run FILE, --reason 作廢原因", ("{number}", "--reason", "打錯")),
    Command("reprint", "補印收據：由收據簿另存一份標示補印的副本 · print a receipt again, marked 補印",
            book_commands.add_reprint_arguments, book_commands.run_reprint, "NUMBER", ("{number}",)),
    Command("print", "把收據送到印表機 · send receipts to the printer",
            shop.add_print_arguments, shop.run_print, "NUMBER… [--printer NAME] [--copies N]", ("{number}",)),
    Command("ledger", "由收據簿重寫收據清冊.csv · write the ledger 收據清冊.csv again from the book",
            book_commands.add_ledger_arguments, book_commands.run_ledger, "--rebuild", ("--rebuild",)),
    Command("backup", "備份輸出資料夾：收據簿、每月資料夾、收據清冊、賣方資料，並逐一檢查 · back up the output folder, "
            "verified", book_commands.add_backup_arguments, book_commands.run_backup, "DEST [--output FOLDER]", ("{backup}",)),
    Command("check", "檢查輸出資料夾：檔案、SHA-256、收據清冊與號碼是否都與收據簿相符 · audit the output folder",
            book_commands.add_check_arguments, book_commands.run_check, "[--output FOLDER]"),
    Command("verify", "驗證收據是真的：讀 PDF、圖片或手機照片上的驗證碼，核對簽章與內容 · verify a receipt from its "
            "PDF, a picture or its code", book_commands.add_verify_arguments, book_commands.run_verify,
            "FILE… [--key 驗證卡.png|FINGERPRINT] [--output FOLDER]", ("{pdf}",)),
    Command("key", "製作驗證卡：商號、統一編號、公鑰 QR 碼與金鑰指紋 · make the shop's verification card",
            book_commands.add_key_arguments, book_commands.run_key, "card [--output FOLDER]", ("card",)),
    Command("install-launchers", "把「收據」與「收據簿」加入桌面選單 · add 收據 and 收據簿 to the desktop's menu",
            launchers.add_arguments, launchers.run, "[--data-home FOLDER]"),
    Command("help", "開啟本機的使用說明 · open the local help page", no_arguments, open_help),
)


class ChineseHelpFormatter(argparse.RawDescriptionHelpFormatter):
    def add_usage(self, usage, actions, groups, prefix=None):
        super().add_usage(usage, actions, groups, "用法 · usage: " if prefix is None else prefix)


def chinese_parser(parser):
    """Chinese section titles and -h beside argparse's own English ones."""
    parser._positionals.title = "參數 · arguments"
    parser._optionals.title = "選項 · options"
    parser.add_argument("-h", "--help", action="help", help="顯示本說明 · show this help")
    return parser


class ChineseArgumentParser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        self.exit(2, f"{self.prog}: 參數有誤 · error: {message}\n")


def make_parser():
    parser = chinese_parser(ChineseArgumentParser(
        prog="receiptora", add_help=False, formatter_class=ChineseHelpFormatter,
        description="Receiptora 免用統一發票收據：開啟收據視窗，或不開視窗由檔案開立收據。\n"
                    "Receiptora: the receipt window, or receipts from files without it."))
    parser.add_argument("--version", action="version", version=f"receiptora {version()}",
                        help="顯示版本 · show the version")
    parser.add_argument("--standalone", action="store_true",
                        help="只開視窗：按「輸出單據」只印出收據請求 · the window alone: a press prints the request")
    commands = parser.add_subparsers(dest="command", title="指令 · commands", metavar="COMMAND",
                                     parser_class=ChineseArgumentParser)
    for command in COMMANDS:
        sub = chinese_parser(commands.add_parser(command.name, add_help=False, help=command.help,
                                                 description=command.help.replace(" · ", "\n"),
                                                 formatter_class=ChineseHelpFormatter))
        command.arguments(sub)
        sub.set_defaults(handler=command.run)
    return parser


def main(argv=None):
    args = make_parser().parse_args(argv)
    handler = getattr(args, "handler", None)
    if handler is not None:
        try:
            return handler(args)
        except KeyboardInterrupt:
            print(f"\nreceiptora {args.command}: 已中斷（Ctrl+C）", file=sys.stderr)
            return 130
        except BrokenPipeError:  # the reader went away (`receiptora list | head`): nothing more to say
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            return 1
    return in_a_window(run_standalone if args.standalone else run_app)()


if __name__ == "__main__":
    sys.exit(main())
