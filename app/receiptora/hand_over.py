"""The app's "get_receipt" queue: it notes when each request was handed over, so the receipt
worker tells a double press (the same request again within 2 s) from a second receipt, and it
tells the window's feedback that a request is on its way (so the window looks for the answer
only while one is outstanding)."""
import collections
import queue
import time


class ReceiptQueue(queue.Queue):
    def __init__(self, on_put=None):
        self.on_put = on_put  # called on the handing thread after each request
        super().__init__()

    def _init(self, maxsize):
        super()._init(maxsize)
        self.handed = collections.deque()  # time.monotonic() of each item still queued
        self.taken_handed_at = None  # of the item taken last

    def _put(self, item):
        super()._put(item)
        self.handed.append(time.monotonic())

    def _get(self):
        self.taken_handed_at = self.handed.popleft()
        return super()._get()

    def put(self, item, block=True, timeout=None):
        super().put(item, block, timeout)
        if item is not None and self.on_put is not None:
            self.on_put()
