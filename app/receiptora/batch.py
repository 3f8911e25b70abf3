"""`receiptora render FILE…`: receipts from files, without the window.

The files are read as streams of orders (orders.py) and issued a chunk at a time, so a long
sheet never sits in memory whole. An order whose key the book already holds is skipped
unless --again; an order whose 收據 value has a receipt of other content is held until
named with --again ORDER (or its receipt is void). Each run writes its result table 開立結果-YYYYMMDD-HHMMSS.csv in the output
folder (order → number, total, state or reason) and prints a short summary; Ctrl+C or
SIGTERM stops after the receipts in flight, with the summary, and exit status 130.
"""
import csv
import datetime
import itertools
import os
import shlex
import signal
import sys

from receiptora import orders
from receiptora.messages import printable, said

CHUNK = 500  # orders handed to the issuer at once: bounds the memory a long sheet takes
SHOWN = 5  # refused orders named in the summary
KEPT = 1000  # refused orders the result table and the error log name; the rest are counted
REASON_CHARS = 500  # of one refusal's reason (a line of a megabyte is not repeated whole)
RESULT_HEADER = ["來源", "收據", "收據號碼", "總額", "狀態", "原因", "執行編號", "輸出資料夾"]
TABLE_PREFIX = "開立結果-"
ISSUED, SKIPPED, REFUSED, UNFINISHED, NOT_STARTED = "已開立", "先前已開立", "未開立", "未完成", "未開始"
SKIPPED_VOID, HELD = "先前已開立（已作廢）", "待確認"


def default_folder():
    """The folder the window saves into: ~/quillmarkers/Receiptora/."""
    from receiptora import _numbers
    return _numbers.output_folder()


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
    parser.add_argument("--again", nargs="*", metavar="ORDER",
                        help="不加訂單：連同先前已開立的訂單也全部重新開立；加上 收據 欄的值：只重新開立這些訂單"
                             "（內容已變更而待確認的訂單也以此開立；請寫在檔案之後）· without ORDER: issue every order "
                             "anew, also those issued before; with ORDER values (after the files): those orders only, "
                             "also those held because their content changed")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1,
                        help="同時繪製的收據數，最多為處理器數 · receipts made at once "
                             "(default and most: the number of processors)")


def epilog():
    return (
        "CSV 檔：每行一項商品，收據 欄相同的各行合為一張收據（UTF-8、UTF-16 或 Big5）。\n"
        "CSV files: one item per line; the lines with the same 收據 form one receipt (UTF-8, UTF-16 or Big5).\n"
        f"  必要欄位 · required columns: {', '.join(orders.REQUIRED)}\n"
        f"  選用欄位 · optional columns: 版本（{'／'.join(orders.templates())}）, {', '.join(orders.SWITCHES)}（是／否）, "
        "備註（每項商品的備註 · each item's note）\n"
        "  統一編號須正確（8 位數字與檢查碼），錯誤的一行不開立 · a wrong buyer's 統一編號 refuses the line\n"
        "  同一張收據的後續各行可將 買受人、統一編號、日期 與選用欄位留白。\n"
        "  Later lines of a receipt may leave its buyer, 統一編號, date and options empty.\n"
        "日期寫法 · date forms: 2026-12-07, 2026/12/07, 2026.12.07, 115/12/07, 民國 115/12/07, "
        "民國115年12月7日, 115年12月7日, 2026年12月7日；留白為今天 · empty: today\n"
        "數字可含千分位與全形數字 · numbers may have thousands separators (1,680) and full-width digits\n"
        "JSON 檔：一張收據請求，或請求的清單 · JSON files: one receipt request or a list of them.\n"
        "已開立過的訂單（內容相同）再執行時略過；每次執行的結果寫在輸出資料夾的 開立結果-日期-時間.csv。\n"
        "Orders issued before (same content) are skipped on a re-run; each run's result table is "
        "開立結果-YYYYMMDD-HHMMSS.csv in the output folder.\n"
        "已開立過、但內容已變更的訂單不開立（待確認），要開立請加 --again 訂單，或先作廢舊收據。\n"
        "An order issued before whose content changed is held: issue it with --again ORDER, or void its receipt "
        "first.")


def log_failures(problems):
    """Writes the run's failures to the error log (they are on standard error already);
    raises OSError when the log cannot be written."""
    if not problems:
        return
    import quillmarkers_model
    quillmarkers_model.Try_Except_Model().write("receiptora render", readable("\n".join(problems)))


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



class ResultTable:
    """開立結果-YYYYMMDD-HHMMSS.csv in the output folder, made before the run's first receipt and
    written a chunk at a time (UTF-8 with a byte-order mark, as the ledger). Its name's stamp is
    the run's id, which the book keeps with every receipt of the run; each row names the run and
    the folder, so undoing the run can check the table against the book."""

    def __init__(self, folder):
        self.folder, self.path, self.file, self.writer = folder, None, None, None
        self.run = ""
        self.problem = ""  # why the table could not be written; the receipts are issued all the same

    def run_id(self):
        """The run's id, the table made first when it is not yet (its name fixes the id)."""
        if not self.run:
            try:
                self.open()
            except OSError as error:
                self.problem = self.problem or f"開立結果檔無法寫入（{said(error)}）"
                self.run = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
        return self.run

    def add(self, rows):
        try:
            self.write(rows)
        except OSError as error:
            self.problem = self.problem or f"開立結果檔無法寫入（{said(error)}）"

    def open(self):
        stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
        os.makedirs(self.folder, exist_ok=True)
        for n in itertools.count(1):
            run = stamp if n == 1 else f"{stamp}-{n}"
            path = os.path.join(self.folder, f"{TABLE_PREFIX}{run}.csv")
            try:
                self.file = open(path, "x", encoding="utf-8-sig", newline="")
                break
            except FileExistsError:
                continue
        self.path, self.run = path, run
        self.writer = csv.writer(self.file)
        self.writer.writerow(RESULT_HEADER)
        self.file.flush()

    def write(self, rows):
        if not rows or self.problem:
            return
        if self.file is None:
            self.open()
        from receiptora._numbers import disarmed_cell  # the ledger's rule: a formula start gets an apostrophe
        folder = os.fsdecode(os.path.abspath(self.folder))
        self.writer.writerows([[disarmed_cell(readable(str(cell))) for cell in row] + [self.run, readable(folder)]
                               for row in rows])
        self.file.flush()

    def close(self):
        if self.file is not None:
            self.file.close()


class Tally:
    """What a run did, for its summary."""

    def __init__(self):
        self.issued, self.skipped, self.first, self.last = 0, 0, "", ""
        self.refused = []  # per order refused, its problems: the first KEPT
        self.refused_count = 0
        self.unread_count = 0
        self.unread = []  # problems of no one order: a file not read, a line without 收據
        self.notes = []  # the run's own: seller profile, recovery, ledger
        self.failed = False  # a ledger line not written: the exit status says so
        self.held = []  # orders held for a changed content: (收據 value, its earlier receipt), the first KEPT
        self.held_count = 0


def quoted(label):
    """An order's 收據 value as the shell takes it back after --again."""
    return shlex.quote(printable(label))


def reason_of(result):
    return cut(str(result).replace("\n", " "))


def cut(text):
    return text if len(text) <= REASON_CHARS else text[:REASON_CHARS] + "…"


def readable(text):
    """A text for the result table and standard output: bytes of a file name that are not
    UTF-8 (lone surrogates) as U+FFFD."""
    return text.encode("utf-8", "surrogateescape").decode("utf-8", "replace")


def note_refused(tally, problems):
    """Counts a refused order; keeps its problems while fewer than KEPT are kept. True when kept."""
    tally.refused_count += 1
    if len(tally.refused) < KEPT:
        tally.refused.append([cut(p) for p in problems])
        return True
    return False


def issue_chunk(chunk, args, tally, table, bar, borrowed):
    """Issues the orders of one chunk; returns False when the run was stopped meanwhile."""
    import quillmarkers_model
    from receiptora import _numbers
    rows = [None] * len(chunk)  # in the orders' order
    ready = []
    for at, order in enumerate(chunk):
        if order.request is None:
            if order.label is None:
                tally.unread_count += len(order.problems)
                tally.unread.extend(cut(p) for p in order.problems[:max(0, KEPT - len(tally.unread))])
                kept = tally.unread_count <= KEPT
            else:
                kept = note_refused(tally, order.problems)
            if kept:
                rows[at] = [order.place, order.label or "", "", "", REFUSED, cut("；".join(order.problems))]
        else:
            ready.append((at, order))
    for target in {o.request.get("存檔路徑") for _, o in ready} - borrowed:
        borrowed.add(target)
        if isinstance(target, str) and (source := borrow_profile(target)):
            print(f"receiptora: {target} 沒有賣方資料，已複製預設輸出資料夾的 {source}", file=sys.stderr)
    results, problems = quillmarkers_model.issue_receipts(
        [o.request for _, o in ready], jobs=usable_jobs(args.jobs, len(ready)), progress=bar.update,
        keys=[o.key for _, o in ready], again=args.again == [], orders=[o.label or "" for _, o in ready],
        details=True, run=table.run_id(), again_orders=args.again or []) if ready else ([], [])
    for problem in problems:  # notes, and the ledger's failures as LedgerNotWritten
        tally.failed = tally.failed or isinstance(problem, _numbers.LedgerNotWritten)
        if str(problem) not in tally.notes:
            tally.notes.append(str(problem))
    stopped = False
    for (at, order), result in zip(ready, results):
        if not isinstance(result, dict):  # the request itself was refused
            result = {"state": "failed", "number": "", "error": result, "total": ""}
        state, number, total = result["state"], result["number"], result["total"]
        if state == "issued":
            tally.issued += 1
            tally.first, tally.last = tally.first or number, number
            rows[at] = [order.place, order.label, number, total, ISSUED, ""]
        elif state in ("skipped", "under_way"):
            tally.skipped += 1
            rows[at] = [order.place, order.label, number, total, SKIPPED,
                        "同一訂單先前已開立（--again 全部重新開立）" if state == "skipped" else "同一訂單正由另一次執行開立"]
        elif state == "skipped_void":
            tally.skipped += 1
            rows[at] = [order.place, order.label, number, total, SKIPPED_VOID,
                        f"同一訂單先前的收據已作廢；要重新開立請加 --again {quoted(order.label)}"]
        elif state == "held":
            tally.held_count += 1
            if len(tally.held) < KEPT:
                tally.held.append((order.label, number))
            rows[at] = [order.place, order.label, number, total, HELD,
                        f"內容與先前開立的 {number} 不同，未開立；確認要開立請加 --again {quoted(order.label)}，"
                        "或先作廢該收據"]
        elif state == "not_started":
            stopped = True
            rows[at] = [order.place, order.label, "", total, NOT_STARTED, "執行被中斷，未開始"]
        else:
            reason = reason_of(result["error"])
            note_refused(tally, [f"{order.place}: {reason}"])
            rows[at] = [order.place, order.label, number, total, UNFINISHED if number else REFUSED, reason]
    table.add([row for row in rows if row is not None])
    return not stopped


def print_summary(tally, folder, table, stopped):
    out = sys.stdout
    for problem in tally.notes:
        print(f"receiptora: {problem}", file=sys.stderr)
    for problem in tally.unread[:SHOWN]:
        print(problem, file=sys.stderr)
    for problems in tally.refused[:SHOWN]:
        for problem in problems:
            print(problem, file=sys.stderr)
    if tally.refused_count > SHOWN:
        print(f"……另有 {tally.refused_count - SHOWN} 張未能開立，見開立結果檔", file=sys.stderr)
    span = ""
    if tally.issued:
        span = f"（{tally.first}" + (f" … {tally.last}" if tally.issued > 1 else "") + "）"
    print(f"已開立 {tally.issued} 張收據{span}，存於 {readable(os.fsdecode(folder))}", file=out)
    if tally.skipped:
        print(f"略過 {tally.skipped} 張：先前已開立（--again 全部重新開立）", file=out)
    if tally.held_count:
        named = "、".join(f"{printable(label)}（{number}）" for label, number in tally.held[:SHOWN])
        more = " 等" if tally.held_count > SHOWN else ""
        print(f"待確認 {tally.held_count} 張：訂單內容與先前開立的收據不同，未開立：{named}{more}；"
              f"確認要開立請加 --again {' '.join(quoted(label) for label, _ in tally.held[:SHOWN])}{more}，"
              "或先作廢舊收據", file=out)
    if tally.refused_count:
        print(f"{tally.refused_count} 張未能開立，原因列於上方，也寫入錯誤紀錄"
              + (f"（開立結果檔與錯誤紀錄只列前 {KEPT} 張）" if tally.refused_count > KEPT else ""), file=out)
    if tally.unread_count:
        print(f"{tally.unread_count} 個問題不屬於任何一張收據（檔案或行無法讀取），列於上方", file=out)
    if stopped:
        print("執行被中斷：進行中的收據已完成，其餘未開始", file=out)
    if table.problem:
        print(f"receiptora: {table.problem}", file=sys.stderr)
    elif table.path:
        print(f"開立結果：{readable(table.path)}", file=out)


def run(args):
    from tqdm import tqdm

    folder = args.output or default_folder()
    tally, table, borrowed = Tally(), ResultTable(folder), set()
    stopped = False
    signals = []

    def interrupt(signum, frame):  # noted, since the issuer stops on it and clears the exception
        signals.append(signum)
        raise KeyboardInterrupt
    previous = {s: signal.signal(s, interrupt) for s in (signal.SIGINT, signal.SIGTERM)}
    try:
        with tqdm(unit="張", file=sys.stderr, disable=not sys.stderr.isatty()) as bar:
            read = orders.read_files(args.files, folder, explicit_folder=bool(args.output))
            while chunk := list(itertools.islice(read, CHUNK)):
                if not issue_chunk(chunk, args, tally, table, bar, borrowed) or signals:
                    break
    except KeyboardInterrupt:
        signals.append(signal.SIGINT)
    finally:
        for number, handler in previous.items():
            signal.signal(number, handler)
        if tally.refused_count > KEPT:
            table.add([["", "", "", "", REFUSED, f"……另有 {tally.refused_count - KEPT} 張未開立（只列前 {KEPT} 張）"]])
        table.close()
    stopped = bool(signals)
    problems = tally.notes + tally.unread + [p for problems in tally.refused for p in problems]
    if tally.refused_count > len(tally.refused):
        problems.append(f"……另有 {tally.refused_count - len(tally.refused)} 張未能開立（只記前 {KEPT} 張）")
    if tally.unread_count > len(tally.unread):
        problems.append(f"……另有 {tally.unread_count - len(tally.unread)} 個讀取問題（只記前 {KEPT} 個）")
    try:
        log_failures(problems)
    except OSError as error:  # the log is a copy: the problems are on standard error above
        print(f"receiptora: 錯誤紀錄無法寫入（{said(error)}），問題只列在上方", file=sys.stderr)
    print_summary(tally, folder, table, stopped)
    if stopped:
        return 130
    return 1 if tally.refused_count or tally.unread_count or tally.failed or tally.held_count else 0
