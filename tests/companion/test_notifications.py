"""Desktop notifications from the receipt worker and the refused press: a private session bus
(dbus-daemon) and a small notification server on it record what is sent."""
import datetime
import os
import shutil
import subprocess
import sys
import textwrap
import threading
import time
from pathlib import Path

import pytest

from shop_profile import named_shop

pytestmark = [pytest.mark.skipif(shutil.which("dbus-daemon") is None, reason="dbus-daemon is needed"),
              pytest.mark.usefixtures("no_tk_garbage")]


class NotificationServer:
    """Owns org.freedesktop.Notifications and answers Notify, recording each call's texts."""

    def __init__(self, address, click=""):
        from jeepney.bus_messages import message_bus
        from jeepney.io.blocking import open_dbus_connection
        self.connection = open_dbus_connection(bus=address)
        self.connection.send_and_get_reply(message_bus.RequestName("org.freedesktop.Notifications"))
        self.received, self.arrivals, self.stopping = [], [], False  # arrivals: time.time_ns()
        self.click = click  # an action key clicked on every notice that offers it
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        from jeepney import HeaderFields, MessageType, new_method_return
        while not self.stopping:
            try:
                message = self.connection.receive(timeout=0.1)
            except TimeoutError:
                continue
            header = message.header
            if header.message_type == MessageType.method_call and header.fields.get(HeaderFields.member) == "Notify":
                self.arrivals.append(time.time_ns())
                self.received.append(message.body)
                self.connection.send_message(new_method_return(message, "u", (len(self.received),)))
                if self.click and self.click in message.body[5][::2]:
                    from jeepney import DBusAddress, new_signal
                    notices = DBusAddress("/org/freedesktop/Notifications", interface="org.freedesktop.Notifications")
                    self.connection.send_message(new_signal(notices, "ActionInvoked", "us",
                                                            (len(self.received), self.click)))

    def close(self):
        self.stopping = True
        self.thread.join()
        self.connection.close()


@pytest.fixture
def session_bus():
    daemon = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                            capture_output=True, text=True, check=True, timeout=30)
    address, pid = daemon.stdout.split()
    try:
        yield address
    finally:
        os.kill(int(pid), 15)


def run_worker(tmp_path, address, requests, then_wait_for=""):
    """Runs the worker in a process of its own on the given bus until the requests are done (and,
    as the app stays open, until the file `then_wait_for` exists)."""
    code = f"""
        import os, queue, threading, time, quillmarkers_model
        q, busy = queue.Queue(), threading.Event()
        for request in {requests!r}:
            q.put(request)
        q.put(None)
        worker = quillmarkers_model.Receipt_Worker(q, busy)
        worker.start()
        assert worker.join(60)
        end = time.monotonic() + 30
        while {then_wait_for!r} and not os.path.exists({then_wait_for!r}) and time.monotonic() < end:
            time.sleep(0.05)
    """
    env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address, HOME=str(tmp_path),
               XDG_DATA_HOME=str(tmp_path / "data"))
    result = subprocess.run([sys.executable, "-c", textwrap.dedent(code)], env=env, capture_output=True,
                            text=True, timeout=120)
    assert result.returncode == 0, result.stderr


# The note on every receipt of a shop whose profile gives its name alone.
LACKING = "免用統一發票專用章缺「統一編號」、「負責人」、「地址」：請在賣方資料.toml 填寫。"
COPY_AND_OPEN = ["default", "開啟 PDF", "copy", "複製圖片"]


def request(folder, show_date=True):
    named_shop(folder, '"商號名稱" = "林記茶行"\n')
    return {"版本": "一般格式", "買受人": "林記茶行", "買受人統一編號": "", "品名": ["凍頂烏龍茶", "手工蛋糕"],
            "數量": [2, 13], "單件價格": [350, 90], "存檔路徑": str(folder) + "/", "顯示免用統一發票章": True,
            "顯示負責人章": False, "顯示日期": show_date, "年": 2026, "月": 12, "日": 8}


def test_each_receipt_and_each_failure_is_notified(tmp_path, session_bus):
    server = NotificationServer(session_bus)
    folder = tmp_path / "out"
    broken = dict(request(folder), 品名=["只有一項"])  # the item lists differ in length
    try:
        sealed = dict(request(folder, show_date=False), 顯示負責人章=True)  # the new profile names no owner
        run_worker(tmp_path, session_bus, [request(folder), sealed, broken])
        deadline = datetime.datetime.now() + datetime.timedelta(seconds=10)
        while len(server.received) < 3 and datetime.datetime.now() < deadline:
            threading.Event().wait(0.05)
    finally:
        server.close()
    summaries, bodies = [body[3] for body in server.received], [body[4] for body in server.received]
    assert summaries[:2] == ["已開立 收據-20261208-001｜115年12月8日｜合計 1,870 元",
                             "已開立 收據-20261208-002｜不印日期｜合計 1,870 元"]
    assert bodies[:2] == [LACKING, "負責人章未蓋：賣方資料沒有負責人姓名\n" + LACKING]
    assert summaries[2].startswith("收據未開立：") and summaries[2].endswith("（已記錄於 error.log）")
    app_name, _, _, _, _, actions, _, _ = server.received[0]
    assert app_name == "Receiptora" and actions == ["default", "開啟 PDF", "copy", "複製圖片"]
    assert (folder / "2026-12" / "收據-20261208-001.pdf").is_file()


def test_a_duplicate_is_voided_from_its_notice_and_a_wrong_tax_id_is_said(tmp_path, session_bus):
    server = NotificationServer(session_bus, click="void")
    folder, seen = tmp_path / "out", tmp_path / "seen"
    wrong_tax_id = dict(request(folder), 買受人統一編號="12345678")
    worker = threading.Thread(target=run_worker, args=(tmp_path, session_bus, [request(folder)] * 2 + [wrong_tax_id]),
                              kwargs={"then_wait_for": str(seen)})
    worker.start()
    try:
        deadline = time.monotonic() + 60
        while len(server.received) < 4 and time.monotonic() < deadline:  # three receipts and the void
            time.sleep(0.05)
    finally:
        seen.touch()  # the app may close now
        worker.join()
        server.close()
    notices = {body[3]: (body[4], body[5]) for body in server.received}
    assert notices["已開立 收據-20261208-001｜115年12月8日｜合計 1,870 元"] == (LACKING, COPY_AND_OPEN)
    assert notices["已開立 收據-20261208-002｜115年12月8日｜合計 1,870 元"] == (
        "與 收據-20261208-001 內容相同\n" + LACKING, COPY_AND_OPEN + ["void", "作廢這張"])
    assert notices["已開立 收據-20261208-003｜115年12月8日｜合計 1,870 元"] == (  # flagged: what is odd first
        "買受人統一編號「12345678」檢查碼不符\n" + LACKING, COPY_AND_OPEN + ["void", "作廢這張"])
    assert "已作廢 收據-20261208-002（作廢原因：重複開立）" in notices
    assert (folder / "2026-12" / "收據-20261208-002-作廢.pdf").is_file()
    log = (tmp_path / "data" / "quillmarkers" / "Receiptora" / "error.log").read_text(encoding="utf-8")
    assert "收據-20261208-003：買受人統一編號「12345678」檢查碼不符" in log and "收據 收據-" not in log


@pytest.mark.gui
@pytest.mark.skipif(shutil.which("xclip") is None, reason="xclip is needed")
def test_copy_picture_on_the_notice_puts_the_png_on_the_clipboard(tmp_path, session_bus):
    server = NotificationServer(session_bus, click="copy")
    folder, seen = tmp_path / "out", tmp_path / "seen"
    worker = threading.Thread(target=run_worker, args=(tmp_path, session_bus, [request(folder)]),
                              kwargs={"then_wait_for": str(seen)})
    worker.start()
    try:
        deadline = time.monotonic() + 60
        while len(server.received) < 2 and time.monotonic() < deadline:  # the receipt and the copy
            time.sleep(0.05)
    finally:
        seen.touch()
        worker.join()
        server.close()
    assert [body[3] for body in server.received][1:] == ["已複製 收據-20261208-001 的圖片，可以貼到聊天或郵件"]
    pasted = subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", "image/png"], capture_output=True,
                            check=True, timeout=30).stdout
    assert pasted == (folder / "2026-12" / "收據-20261208-001.png").read_bytes()


def test_without_a_notification_server_receipts_are_still_made(tmp_path, session_bus):
    folder = tmp_path / "out"
    run_worker(tmp_path, session_bus, [request(folder)])
    assert (folder / "2026-12" / "收據-20261208-001.pdf").is_file()


@pytest.mark.gui
def test_a_refused_press_is_notified_with_its_line(tmp_path, session_bus):
    server = NotificationServer(session_bus)
    delivered = tmp_path / "delivered"
    code = f"""
        import os, sys, time, pytest
        sys.path.insert(0, {str(Path(__file__).resolve().parent.parent / "gui")!r})
        from window_driver import channels, run_window
        def scenario(w):
            w.type_row(0, "茶", "1.5", "350")
            w.output_button().invoke()
        with pytest.MonkeyPatch.context() as patch:
            run_window(patch, scenario, *channels()[1:])
        end = time.monotonic() + 30  # the notice is sent from the notifier's own thread
        while not os.path.exists({str(delivered)!r}) and time.monotonic() < end:
            time.sleep(0.05)
    """
    env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=session_bus, HOME=str(tmp_path))
    child = subprocess.Popen([sys.executable, "-c", textwrap.dedent(code)], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 60
        while not server.received and child.poll() is None and time.monotonic() < deadline:
            time.sleep(0.05)
        delivered.touch()
        out, err = child.communicate(timeout=60)
    finally:
        server.close()
    line = "金額輸入錯誤 --> 第 1 列的數量或單價不是整數，收據未輸出"
    assert out == line + "\n", err
    assert [body[3] for body in server.received] == [line]
