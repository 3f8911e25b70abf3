"""The `receiptora` command.

    receiptora                 the receipt window with its receipt worker: a press saves a receipt
    receiptora --standalone    the window alone: a press prints the receipt request
    receiptora render FILE…    receipts from JSON or CSV files, without the window
    receiptora print NUMBER…   receipts sent to the printer (CUPS)
    receiptora install-launchers   menu entries with icons for 收據 and 收據簿
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
    import quillmarkers_model

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


def main(argv=None):
    parser = argparse.ArgumentParser(prog="receiptora", description="The Receiptora receipt window.")
    parser.add_argument("--standalone", action="store_true",
                        help="run the window on its own: an output press prints the request")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND")
    render = commands.add_parser("render", help="make receipts from JSON or CSV files, without the window")
    from receiptora import batch
    batch.add_arguments(render)
    from receiptora import shop
    shop.add_print_arguments(commands.add_parser("print", help="send receipts to the printer"))
    launchers = commands.add_parser("install-launchers", help="add 收據 and 收據簿 to the desktop's menu")
    launchers.add_argument("--data-home", metavar="FOLDER",
                           help="instead of $XDG_DATA_HOME (default ~/.local/share)")
    args = parser.parse_args(argv)

    if args.command == "render":
        return batch.run(args)
    if args.command == "print":
        return shop.run_print(args)
    if args.command == "install-launchers":
        from receiptora import launchers as launcher_files
        return launcher_files.run(args)
    try:
        check_display()
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
