"""A slow link between the benchmark and its fakes, on the fakes' side.

install(handler_class) makes every connection cost two round trips when it
opens (the TCP and TLS handshakes), every answer one round trip, and every
byte read or written its time at the link's bandwidth. The link starts fast
(no delay, no limit) and is set by the benchmark with
  POST /_link  {"rtt_ms": 30, "mbit": 100}   (also zeroes the counters)
  GET  /_link  -> {"requests", "connections", "bytes"} since the last POST
"""

import json
import threading
import time

LINK = {"rtt": 0.0, "bytes_per_s": 0.0}
COUNT = {"requests": 0, "connections": 0, "bytes": 0}
_lock = threading.Lock()


def _count(key, n=1):
    with _lock:
        COUNT[key] += n


class _Throttled:
    """A file of the connection whose bytes take their time on the link.
    Short waits are gathered so that header lines do not each pay a sleep."""

    def __init__(self, f):
        self._f = f
        self._debt = 0.0

    def __getattr__(self, name):
        return getattr(self._f, name)

    def pay(self, n, settle=False):
        if n:
            _count("bytes", n)
        rate = LINK["bytes_per_s"]
        if rate:
            self._debt += n / rate
        if self._debt >= (0 if settle else 0.002):
            time.sleep(self._debt)
            self._debt = 0.0

    def write(self, data):
        self.pay(len(data))
        return self._f.write(data)

    def read(self, *args):
        data = self._f.read(*args)
        self.pay(len(data))
        return data

    def readline(self, *args):
        data = self._f.readline(*args)
        self.pay(len(data))
        return data


def _link_control(handler):
    if handler.command == "POST":
        length = int(handler.headers.get("Content-Length") or 0)
        wanted = json.loads(handler.rfile.read(length) or b"{}")
        with _lock:
            LINK["rtt"] = float(wanted.get("rtt_ms", 0)) / 1000.0
            LINK["bytes_per_s"] = float(wanted.get("mbit", 0)) * 1e6 / 8
            for key in COUNT:
                COUNT[key] = 0
        body = b"{}"
    else:
        with _lock:
            body = json.dumps(COUNT).encode()
    handler.send_response_only(200)
    handler.send_header("Content-Type", "application/json")
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    handler.wfile.write(body)


def install(handler_class):
    setup = handler_class.setup

    def slow_setup(self):
        setup(self)
        _count("connections")
        if LINK["rtt"]:
            time.sleep(2 * LINK["rtt"])
        self.rfile = _Throttled(self.rfile)
        self.wfile = _Throttled(self.wfile)

    send_response_only = handler_class.send_response_only

    def slow_answer(self, code, message=None):
        if self.path != "/_link":
            _count("requests")
            self.rfile.pay(0, settle=True)
            if LINK["rtt"]:
                time.sleep(LINK["rtt"])
        send_response_only(self, code, message)

    def routed(method):
        def handle(self):
            if self.path == "/_link":
                return _link_control(self)
            return method(self)
        return handle

    handler_class.setup = slow_setup
    handler_class.send_response_only = slow_answer
    handler_class.do_GET = routed(handler_class.do_GET)
    handler_class.do_POST = routed(handler_class.do_POST)
