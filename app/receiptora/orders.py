"""The orders of the batch command's input files, read as streams.

A JSON file holds one receipt request (the window's thirteen keys) or a list of them. A CSV
file holds one item per line; the lines that share a 收據 value form one order. Files are
read as UTF-8 (with or without a byte-order mark), UTF-16 (with its byte-order mark) or else
as Big5/CP950, which is what a spreadsheet on a Taiwanese Windows machine saves. Cells are
read as a spreadsheet writes them: full-width digits, thousands separators (1,680), 民國
dates in either form; an optional 備註 column gives each item its note. Problems are
reported in Traditional Chinese, each with its file and line.

Each order carries its key: a digest of what the order says (its 收據 value, buyer,
統一編號, the date as written — a blank date stays blank —, its items and options; for JSON
the request's content), never the file's name or bytes and never a resolved "today". A
re-run of an edited, renamed, re-encoded sheet, or on another day, finds the orders the book
has already seen under the same keys.
"""
import codecs
import csv
import datetime
import hashlib
import json
import os
import re
import stat
import unicodedata

REQUIRED = ("收據", "買受人", "統一編號", "日期", "品名", "數量", "單價")
# column: default; a stamp left empty is None, shown when the seller profile can draw it
SWITCHES = {"顯示日期": True, "顯示免用統一發票章": None, "顯示負責人章": None}
YES = {"是", "y", "yes", "true", "1", "v", "✓", "○"}
NO = {"否", "n", "no", "false", "0", "x", "✗", "×"}
SIZE_LIMIT = 100 * 1024 * 1024  # bytes of one input file: about a million order lines


class BadLine(ValueError):
    """A line that cannot become part of a receipt; str() says which and why."""


class Order:
    """One receipt an input file asks for: where it starts ("file:line"), its 收據 value (None
    for a problem that belongs to no order: an unreadable file, a line without 收據), its key,
    and the request, or the problems that refuse it."""
    __slots__ = ("place", "label", "key", "request", "problems")

    def __init__(self, place, label=None, key="", request=None, problems=()):
        self.place, self.label, self.key, self.request, self.problems = place, label, key, request, list(problems)


def order_key(content):
    """The key of an order's content (texts, whole numbers, lists, dicts), independent of how
    the file spelled it: integers of any length go in as hex, which Python writes without a
    digit limit."""
    def canonical(value):
        if isinstance(value, bool) or value is None or isinstance(value, str):
            return value
        if isinstance(value, int):
            return {"\0int": format(value, "x")}
        if isinstance(value, dict):
            return {str(k): canonical(v) for k, v in value.items()}
        if isinstance(value, (list, tuple)):
            return [canonical(v) for v in value]
        return {"\0" + type(value).__name__: repr(value)}
    text = json.dumps(canonical(content), ensure_ascii=False, sort_keys=True, separators=(",", ":"))
    return "order:" + hashlib.sha256(text.encode("utf-8", "surrogatepass")).hexdigest()


def plain(text):
    """The cell as ASCII where it has an ASCII form: full-width digits, letters, slashes and
    commas, as a Chinese input method types them, become 0-9, a-z, / and ,."""
    return unicodedata.normalize("NFKC", text).strip()


def whole_number(text, column):
    """A quantity or price cell by core's figure reader: 1680, 1,680 or １，６８０."""
    from receiptora import _numbers
    cell = plain(text)
    if not cell:
        return 0  # a blank quantity or price counts as 0, as in the window
    value = _numbers.read_figure(cell)
    if value is None:
        raise BadLine(f"{column} {text!r} 不是整數")
    return value


# 2026-12-07, 2026/12/07, 2026.12.07, 115/12/07 and 2026年12月7日, 115年12月7日, each also
# after 民國. A year of four digits is a western year; one of up to three a 民國 year.
DATE = re.compile(r"(民國)?\s*(\d{1,4})\s*(?:[-/.]\s*(\d{1,2})\s*[-/.]\s*(\d{1,2})|年\s*(\d{1,2})\s*月\s*(\d{1,2})\s*日?)")


def receipt_year(year):
    """Whether a receipt can carry the year: core's span, 民國 1 to 民國 200."""
    from receiptora import _numbers
    first, last = _numbers.RECEIPT_YEARS
    return first <= year <= last


def check_year(year, written):
    if not receipt_year(year):
        raise BadLine(f"日期 {written!r} 不在 民國 1 年至 民國 200 年之間")


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
        if len(found[2]) < 4:
            year += 1911
        elif roc:
            raise ValueError  # 民國 2026 is no year
        datetime.date(year, month, day)
    except ValueError:
        raise BadLine(f"日期 {text!r} 不是有效的日期（例如 2026-12-07、115/12/07 或 民國115年12月7日）") from None
    check_year(year, text)
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


class Refused(Exception):
    """A whole input file that is not read; str() says why, in Chinese."""


def open_input(path):
    """The file for reading in binary, when it is a regular file within SIZE_LIMIT. A FIFO,
    a device or a folder is refused at once (opened without waiting for a writer)."""
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NONBLOCK | getattr(os, "O_CLOEXEC", 0))
    except FileNotFoundError:
        raise Refused("找不到這個檔案") from None
    except PermissionError:
        raise Refused("沒有讀取這個檔案的權限") from None
    except (OSError, ValueError) as error:
        raise Refused(f"無法開啟（{getattr(error, 'strerror', None) or error}）") from None
    try:
        info = os.fstat(fd)
        if stat.S_ISDIR(info.st_mode):
            raise Refused("是資料夾，不是檔案")
        if not stat.S_ISREG(info.st_mode):
            raise Refused("不是一般檔案（裝置或管線），不讀取")
        if info.st_size > SIZE_LIMIT:
            raise Refused(f"有 {info.st_size / 1048576:.0f} MB，超過一個檔案的上限 "
                          f"{SIZE_LIMIT // 1048576} MB；請分成幾個較小的檔案")
        os.set_blocking(fd, True)
        return os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise


def detect_encoding(f):
    """The file's encoding, from its byte-order mark, else from its lines: UTF-8 when a line
    with other than ASCII reads as UTF-8 (a bad byte elsewhere is that line's problem), else
    CP950. Leaves the file at its start."""
    head = f.read(4)
    f.seek(0)
    if head.startswith(codecs.BOM_UTF8):
        return "utf-8-sig"
    if head.startswith((codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE)):
        return "utf-16"
    utf8_text = not_utf8 = False
    for line in f:
        if line.isascii():
            continue
        try:
            line.decode("utf-8")
            utf8_text = True
            break
        except UnicodeDecodeError:
            not_utf8 = True
    f.seek(0)
    return "cp950" if not_utf8 and not utf8_text else "utf-8"


def text_lines(f, encoding, bad):
    """The file's lines as text, each with its line ending. A line with a byte that does not
    decode is given with replacement characters and its number added to `bad`; past
    SIZE_LIMIT bytes (a file that grows while read) the file is refused."""
    if encoding == "utf-16":
        reader = codecs.getreader("utf-16")(f, errors="strict")
        number = 0
        try:
            for number, line in enumerate(reader, 1):
                yield line
        except UnicodeDecodeError:
            raise Refused(f"第 {number + 1} 行不是有效的 UTF-16 文字") from None
        return
    if encoding == "utf-8-sig":
        f.seek(3)
        encoding = "utf-8"
    read = 0
    for number, raw in enumerate(f, 1):
        read += len(raw)
        if read > SIZE_LIMIT:
            raise Refused(f"超過一個檔案的上限 {SIZE_LIMIT // 1048576} MB；請分成幾個較小的檔案")
        try:
            yield raw.decode(encoding)
        except UnicodeDecodeError:
            bad.add(number)
            yield raw.decode(encoding, "replace")


def csv_rows(path, f, encoding, bad):
    """(first line, last line, cells) of every non-blank row after the header, and the header."""
    reader = csv.reader(text_lines(f, encoding, bad))
    header = [name.strip() for name in next(reader, [])]

    def rows():
        line = reader.line_num
        for cells in reader:
            start, line = line + 1, reader.line_num
            if any(cell.strip() for cell in cells):
                yield start, line, cells
    return header, rows()


class Seen:
    """The 收據 values a reading has met, in 2 MB whatever the sheet's length: a value never
    met is told apart from one met, except rarely (about one in a hundred over a million
    values), and such a value then merely counts as one whose lines are apart."""
    BITS = 1 << 24

    def __init__(self):
        self.bits = bytearray(self.BITS // 8)

    def add(self, text):
        """Notes `text`; True when it was met before."""
        h = hash(text) & 0xFFFFFFFFFFFFFFFF
        met = True
        for place in (h & 0xFFFFFF, (h >> 24) & 0xFFFFFF, (h >> 40) & 0xFFFFFF):
            byte, bit = place >> 3, 1 << (place & 7)
            if not self.bits[byte] & bit:
                met = False
                self.bits[byte] |= bit
        return met


def scattered(rows, column):
    """The last line of each 收據 value whose lines stand apart (other orders' lines between
    them). A value whose lines stand together is not kept: its order ends where the next value
    begins, so a sheet of a million orders holds no table of a million values."""
    last, seen, previous = {}, Seen(), None
    for _, end, cells in rows:
        label = (cells[column] if column < len(cells) else "").strip()
        if label != previous:
            if seen.add(label):
                last[label] = end
        elif label in last:
            last[label] = end
        previous = label
    return last


def read_csv(path, folder):
    """The orders of one CSV file, in the order they start. Read twice as a stream: first
    where the last line is of each 收據 value whose lines stand apart, then the orders, each
    handed on once its last line and those of the orders before it are read (a sheet sorted
    by 收據 holds one at a time)."""
    try:
        with open_input(path) as f:
            encoding = detect_encoding(f)
            header, rows = csv_rows(path, f, encoding, set())
            if "收據" not in header:
                last = {}
            else:
                column = header.index("收據")
                last = scattered(rows, column)
            f.seek(0)
            yield from csv_orders(path, f, encoding, folder, last)
    except Refused as error:
        yield Order(str(path), problems=[f"{path}: {error}"])
    except csv.Error as error:
        yield Order(str(path), problems=[f"{path}: 不是可讀的 CSV 檔（{error}）"])
    except OSError as error:
        yield Order(str(path), problems=[f"{path}: 讀取失敗（{error.strerror or error}）"])


def csv_orders(path, f, encoding, folder, last):
    from receiptora._numbers import REQUEST_KEYS  # the window's keys, in its order
    bad = set()
    header, rows = csv_rows(path, f, encoding, bad)
    missing = [name for name in REQUIRED if name not in header]
    if missing:
        yield Order(f"{path}:1", problems=[f"{path}:1: 缺少欄位 {', '.join(missing)}"])
        return
    receipt_columns = [c for c in ("買受人", "統一編號", "日期", "版本", *SWITCHES) if c in header]
    open_orders = {}  # 收據 value -> [first line, its cells, fields, items, problems], by first line
    complete = set()  # open orders whose last line has been read

    def finished(label):
        start, row, fields, items, problems = open_orders.pop(label)
        place = f"{path}:{start}"
        if problems:
            return Order(place, label, problems=problems + [f"{place}: 收據 {label!r} 因上列錯誤未開立"])
        values = dict(fields, 品名=[i[0] for i in items], 數量=[i[1] for i in items],
                      單件價格=[i[2] for i in items], 存檔路徑=folder)
        request = {k: values[k] for k in REQUEST_KEYS}
        if "備註" in header:
            request["備註"] = [i[3] for i in items]
        # An empty stamp column keys as 否 did before, so a re-run still knows the order.
        content = {column: False if fields[column] is None else fields[column] for column in ("版本", *SWITCHES)}
        content.update({"收據": label, "買受人": row["買受人"].strip(), "統一編號": fields["買受人統一編號"],
                        "日期": "" if not row["日期"].strip() else "%04d-%02d-%02d" % (fields["年"], fields["月"], fields["日"]),
                        "品項": [[name.strip(), quantity, price, note] for name, quantity, price, note in items]})
        return Order(place, label, order_key(content), request)

    previous = None
    try:
        for start, end, cells in rows:
            row = dict(zip(header, cells + [""] * (len(header) - len(cells))))
            label = row["收據"].strip()
            if label != previous and previous in open_orders and previous not in last:
                complete.add(previous)  # its lines stood together: the next value ends it
            previous = label
            entry = open_orders.get(label)
            try:
                if any(start <= number <= end for number in bad):
                    raise BadLine("有無法辨識的位元組（檔案不是 UTF-8，也不是 Big5）")
                if not label:
                    raise BadLine("收據 欄是空的")
                if entry is None:
                    entry = open_orders[label] = [start, row, None, [], []]
                    entry[2] = receipt_fields(row)
                else:  # later lines may leave the receipt's columns empty, but not contradict them
                    for column in receipt_columns:
                        if row[column].strip() and row[column].strip() != entry[1][column].strip():
                            raise BadLine(f"{column} {row[column]!r} 與第 {entry[0]} 行 收據 {label!r} 的不同")
                entry[3].append((row["品名"], whole_number(row["數量"], "數量"), whole_number(row["單價"], "單價"),
                                 row.get("備註", "").strip()))
            except BadLine as error:
                if not label:
                    yield Order(f"{path}:{start}", problems=[f"{path}:{start}: {error}"])
                    continue
                if entry is None:
                    entry = open_orders[label] = [start, row, None, [], []]
                entry[4].append(f"{path}:{start}: {error}")
            if label in last and last[label] <= end:
                complete.add(label)
            while open_orders and next(iter(open_orders)) in complete:  # in the order they start
                first = next(iter(open_orders))
                complete.discard(first)
                yield finished(first)
    except (Refused, csv.Error) as error:
        stop = f"{path}: {error}" if isinstance(error, Refused) else f"{path}: 不是可讀的 CSV 檔（{error}）"
        for label in list(open_orders):
            order = finished(label)
            yield Order(order.place, label, problems=order.problems[:-1] + [stop])
        yield Order(str(path), problems=[stop])
        return
    for label in list(open_orders):  # the last order, and any the file changed between the two readings
        yield finished(label)


def json_int(text):
    """An integer of the JSON text, of any length: Python's int() stops at 4300 digits."""
    from receiptora import _numbers
    return _numbers.read_whole_number(text)


class JsonStream:
    """The values of a JSON text read a chunk at a time: the single value, or each element of
    a top-level list, so a long list never sits in memory whole."""
    CHUNK = 1 << 20

    def __init__(self, f, encoding):
        self.f, self.text, self.at, self.line, self.end = f, "", 0, 1, False
        if encoding == "utf-8-sig":
            f.seek(3)
            encoding = "utf-8"
        self.decoder = codecs.getincrementaldecoder(encoding)()
        self.parser = json.JSONDecoder(parse_int=json_int)

    def more(self, at_least=0):
        """Reads on; keeps only what is not yet parsed. False at the end of the file."""
        if self.end:
            return False
        self.line += self.text.count("\n", 0, self.at)
        chunk = self.f.read(max(self.CHUNK, at_least))
        self.end = not chunk
        self.text = self.text[self.at:] + self.decoder.decode(chunk, final=self.end)
        self.at = 0
        return True

    def peek(self):
        """The next character that is no white space, "" at the end."""
        while True:
            while self.at < len(self.text) and self.text[self.at] in " \t\r\n":
                self.at += 1
            if self.at < len(self.text) or not self.more():
                return self.text[self.at:self.at + 1]

    def where(self, at=None):
        return self.line + self.text.count("\n", 0, self.at if at is None else at)

    def value(self):
        """The next value; a value cut off at the chunk's end is read again with more."""
        while True:
            try:
                value, end = self.parser.raw_decode(self.text, self.at)
                if end < len(self.text) or self.end:
                    self.at = end
                    return value
            except json.JSONDecodeError as error:
                if self.end:
                    raise BadLine(f"第 {self.where(error.pos)} 行不是有效的 JSON（{error.msg}）") from None
            self.more(len(self.text) - self.at)  # doubles what is held, so a long value costs linear time

    def values(self):
        """(line, value) of the single value, or of each element of a top-level list."""
        if self.peek() != "[":
            line = self.where()
            value = self.value()
            if self.peek():
                raise BadLine(f"第 {self.where()} 行：JSON 值之後還有文字")
            yield line, value, False
            return
        self.at += 1
        if self.peek() == "]":
            self.at += 1
        else:
            while True:
                self.peek()
                line = self.where()
                yield line, self.value(), True
                following = self.peek()
                self.at += 1
                if following == "]":
                    break
                if following != ",":
                    raise BadLine(f"第 {self.where(self.at - 1)} 行：清單的元素之間少了逗號")
        if self.peek():
            raise BadLine(f"第 {self.where()} 行：JSON 清單之後還有文字")


def read_json(path, folder, explicit_folder):
    """The orders of one JSON file, one request at a time."""
    number = 0
    try:
        with open_input(path) as f:
            for line, request, listed in JsonStream(f, detect_encoding(f)).values():
                number += 1
                place = f"{path}:{line}" + (f"（第 {number} 筆）" if listed else "")
                if not isinstance(request, dict):
                    yield Order(place, "", problems=[f"{place}: 不是收據請求（應為含視窗各欄位的物件）"])
                    continue
                label = request.get("收據")
                label = label if isinstance(label, str) else ""
                content = {k: v for k, v in request.items() if k != "存檔路徑"}
                year = request.get("年")
                if isinstance(year, int) and not isinstance(year, bool) and not receipt_year(year):
                    yield Order(place, label, problems=[f"{place}: 年 {year} 不在 民國 1 年至 民國 200 年之間"])
                    continue
                if explicit_folder or not request.get("存檔路徑"):
                    request["存檔路徑"] = folder
                yield Order(place, label, order_key(content), request)
    except Refused as error:
        yield Order(str(path), problems=[f"{path}: {error}"])
    except BadLine as error:
        yield Order(str(path), problems=[f"{path}: {error}"])
    except RecursionError:
        yield Order(str(path), problems=[f"{path}: 巢狀層數太多，不是收據請求"])
    except UnicodeDecodeError:
        yield Order(str(path), problems=[f"{path}: 有無法辨識的位元組（檔案不是 UTF-8、UTF-16，也不是 Big5）"])
    except OSError as error:
        yield Order(str(path), problems=[f"{path}: 讀取失敗（{error.strerror or error}）"])


def read_files(paths, folder, explicit_folder=False):
    """Every order of every file, one at a time."""
    for path in paths:
        if str(path).lower().endswith(".json"):
            yield from read_json(path, folder, explicit_folder)
        else:
            yield from read_csv(path, folder)
