"""Small base for the fake HTTPS services that tests start on 127.0.0.1.

A fake script subclasses Handler, writes do_GET/do_POST/... and calls
serve(MyHandler). serve() reads "--cert FILE --key FILE" (the server pair of
the test's throwaway CA) from the command line, listens on a free port of
127.0.0.1 with TLS, prints "PORT <n>" as its first stdout line and serves,
one thread per connection, until it is terminated. Other command-line
arguments are left in server.args (handlers see self.server.args).

LocalService::startPython puts this folder on PYTHONPATH, so a script does
"import tlsfake". serve() ends the fake when the process that started it is
gone; a fake with a loop of its own calls exit_with_parent() itself.
"""

import argparse
import http.server
import os
import ssl
import sys
import threading
import time


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def setup(self):
        # The handshake runs in the connection's own thread: a client that
        # connects and says nothing (a browser's spare connection) must not
        # hold up the others in accept().
        tls = getattr(self.server, "tls", None)  # None: plain HTTP
        if tls:
            self.request = tls.wrap_socket(self.request, server_side=True)
        super().setup()

    def read_body(self):
        """The request body as bytes (Content-Length framing)."""
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length else b""

    def reply(self, status, body=b"", headers=None, content_type="application/xml"):
        """Answers with a status, a body (bytes or str) and extra headers
        (a dict or a list of pairs). Content-Length is always sent."""
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response_only(status)
        pairs = list(headers.items()) if isinstance(headers, dict) else list(headers or [])
        names = {k.lower() for k, _ in pairs}
        if content_type and "content-type" not in names:
            pairs.append(("Content-Type", content_type))
        for k, v in pairs:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body and self.command != "HEAD":
            self.wfile.write(body)
        self.wfile.flush()

    def log_message(self, fmt, *args):
        if os.environ.get("TLSFAKE_VERBOSE"):
            sys.stderr.write("%s\n" % (fmt % args))


def trickle(handler, where, every, body=b"x" * 100000, seconds=None):
    """Answers 200 at a trickle, one piece every `every` seconds: header
    lines (where == "headers"), or the body one byte a piece (where ==
    "body"). After `seconds`, if given, the rest of the answer follows at
    once, so a client that lacks a speed floor gets it whole and soon;
    without, header lines come until the client goes away."""
    handler.close_connection = True
    handler.send_response_only(200)
    if where == "body":
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
    end = None if seconds is None else time.monotonic() + seconds
    sent = 0
    try:
        while (end is None or time.monotonic() < end) and (where == "headers" or sent < len(body)):
            if where == "body":
                handler.wfile.write(body[sent:sent + 1])
            else:
                handler.send_header("X-Wait", str(sent))
                handler.flush_headers()
            sent += 1
            time.sleep(every)
        if where == "headers":
            handler.send_header("Content-Length", str(len(body)))
            handler.end_headers()
            sent = 0
        handler.wfile.write(body[sent:])
        handler.wfile.flush()
    except OSError:
        pass  # the client gave up


def exit_with_parent(poll_seconds=0.5):
    """Ends this process once its parent is gone, so that a test that dies
    leaves no fake behind (LocalService also asks the kernel for a signal;
    this covers fakes started any other way)."""
    parent = os.getppid()

    def watch():
        while os.getppid() == parent:
            time.sleep(poll_seconds)
        os._exit(0)

    if parent > 1:
        threading.Thread(target=watch, name="exit-with-parent", daemon=True).start()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    # A client that opens many connections at once must not wait out a
    # dropped SYN (a second) for each beyond the default backlog of 5.
    request_queue_size = 128

    def handle_error(self, request, client_address):
        # A refused handshake is the client's business (it may be testing
        # exactly that); anything else is worth a traceback.
        if not isinstance(sys.exc_info()[1], (ssl.SSLError, ConnectionError)):
            super().handle_error(request, client_address)


def serve(handler_class, argv=None, setup=None):
    """Runs the fake until it is terminated. `setup(server)` may prepare
    shared state before the port is announced."""
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    known, rest = parser.parse_known_args(sys.argv[1:] if argv is None else argv)
    exit_with_parent()
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(known.cert, known.key)
    server = Server(("127.0.0.1", 0), handler_class)
    server.tls = context
    server.args = rest
    if setup:
        setup(server)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
