"""Runs GUI with recording channels and drives a scenario inside its event loop."""
import threading
import time

import customtkinter
import GUI


class Recorder:
    """One ordered log of every call the window makes on the channels."""

    def __init__(self):
        self.calls = []


class RecordingQueue:
    def __init__(self, name, recorder):
        self.name, self.recorder, self.items = name, recorder, []

    def put(self, item):
        self.items.append(item)
        self.recorder.calls.append(("put", self.name, item))


class RecordingEvent:
    """An event whose busy answer the scenario sets; is_set answers can also be scripted."""

    def __init__(self, name, recorder):
        self.name, self.recorder = name, recorder
        self.flag = threading.Event()
        self.answers = []  # scripted answers, taken first
        self.is_set_calls = 0

    def is_set(self):
        self.is_set_calls += 1
        return self.answers.pop(0) if self.answers else self.flag.is_set()

    def set(self):
        self.recorder.calls.append(("set", self.name))
        self.flag.set()


def channels():
    recorder = Recorder()
    queues = {n: RecordingQueue(n, recorder) for n in ("get_receipt", "end")}
    events = {n: RecordingEvent(n, recorder) for n in ("get_receipt", "end")}
    return recorder, queues, events


def widgets(root, kind=None):
    """Every widget below root, depth first in creation order, optionally of one class."""
    found = []
    for child in root.winfo_children():
        if kind is None or isinstance(child, kind):
            found.append(child)
        found.extend(widgets(child, kind))
    return found


class Window:
    """What a scenario sees: the root window and the kit objects the window made."""

    def __init__(self, app, made):
        self.app = app
        self.made = made

    @property
    def entry_table(self):
        return self.made["Entry_Table"][-1]

    @property
    def set_table(self):
        return self.made["Set_Table"][-1]

    @property
    def parameters(self):
        return self.made["Parameters"][-1].parameters

    def pump(self, seconds):
        """Lets the event loop run (timers, redraws) for a while."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.app.update()
            time.sleep(0.005)

    def ticks(self, count=1):
        self.pump(0.5 * count + 0.25)

    def cell(self, title, row):
        key = self.entry_table.name_to_random_string[title]
        return self.entry_table.entry[key][row]

    def type_row(self, row, name="", quantity="", price=""):
        for title, text in (("商品名稱", name), ("商品數量", quantity), ("商品單價", price)):
            entry = self.cell(title, row)
            entry.delete(0, "end")
            if text:
                entry.insert(0, text)

    def outer_panel(self, widget):
        """The panel on the root grid that holds widget."""
        while widget.master is not self.app:
            widget = widget.master
        return widget

    def buyer_entries(self):
        """The two buyer fields: the entries outside the item table's panel."""
        item_panel = self.outer_panel(self.cell("商品名稱", 0))
        return [e for e in widgets(self.app, customtkinter.CTkEntry) if self.outer_panel(e) is not item_panel]

    def type_buyer(self, name="", number=""):
        for entry, text in zip(self.buyer_entries(), (name, number)):
            entry.delete(0, "end")
            if text:
                entry.insert(0, text)

    def menu(self):
        return widgets(self.app, customtkinter.CTkOptionMenu)[0]

    def line_total(self, row):
        return self.cell("商品總額", row)[0].get()

    def button(self, text):
        for b in widgets(self.app, customtkinter.CTkButton):
            if b.cget("text") == text:
                return b
        raise LookupError(text)

    def output_button(self):
        return next(b for b in widgets(self.app, customtkinter.CTkButton)
                    if b.cget("text").startswith("輸出"))

    def total_caption(self):
        import tkinter
        label = next(w for w in widgets(self.app, tkinter.Label) if str(w.cget("textvariable")))
        return label.getvar(str(label.cget("textvariable")))


def run_window(monkeypatch, scenario, queues=None, events=None):
    """Calls GUI(queues, events); scenario(window) runs inside the event loop at once and
    closes the window when it returns. Errors of the scenario are raised afterwards."""
    made = {"Entry_Table": [], "Set_Table": [], "Parameters": [], "Set_Button": []}
    for name in made:
        real = getattr(GUI, name)

        def recording(*args, _real=real, _name=name, **kwargs):
            obj = _real(*args, **kwargs)
            made[_name].append(obj)
            return obj
        monkeypatch.setattr(GUI, name, recording)

    errors = []
    real_mainloop = customtkinter.CTk.mainloop

    def mainloop(app, *args, **kwargs):
        def go():
            try:
                scenario(Window(app, made))
            except BaseException as error:  # reported after GUI returns
                errors.append(error)
            finally:
                if app.winfo_exists():
                    app.destroy()
        app.after(0, go)
        real_mainloop(app, *args, **kwargs)

    monkeypatch.setattr(customtkinter.CTk, "mainloop", mainloop)
    result = GUI.GUI(queues, events)
    if errors:
        raise errors[0]
    return result, made


class RecordingButtons:
    """Stands in front of the kit's Set_Button and records every caption the window sets."""

    def __init__(self, real):
        self.real = real
        self.captions = []

    def add_button(self, *args, **kwargs):
        return self.real.add_button(*args, **kwargs)

    def cget(self, name, option):
        return self.real.cget(name, option)

    def configure(self, name, **options):
        if "text" in options:
            self.captions.append(options["text"])
        return self.real.configure(name, **options)


class ProxyOs:
    """The host's os module with a scripted folder listing."""

    def __init__(self, real, listing):
        self._real, self._listing = real, listing
        self.listed = []

    def __getattr__(self, name):
        return getattr(self._real, name)

    def listdir(self, folder):
        self.listed.append(folder)
        if isinstance(self._listing, BaseException):
            raise self._listing
        if self._listing is None:  # the real folders
            return self._real.listdir(folder)
        return list(self._listing)


class RecordingMessageBox:
    def __init__(self):
        self.shown = []

    def showinfo(self, title, text):
        self.shown.append((title, text))
        return "ok"
