#!/usr/bin/python3
"""A fake NoteStore for tests: the importer's five calls over Thrift binary on
HTTP POST, notebooks and notes kept in memory, and faults on request.

Its protocol code is generated at start-up by the `thrift` compiler from
thrift/notestore.thrift (which includes thrift/types.thrift), so it shares no
code with the client under test.

    fake_notestore.py [--cert PEM --key PEM] [--token TOKEN]

prints "PORT <n>" once it listens on 127.0.0.1. Every path but /control/...
is the NoteStore (any path; it is logged). Control, JSON in and out:

    GET  /control/state     {"notebooks": [...], "notes": [...]}
    GET  /control/requests  [{"path", "contentType", "call", "body" (hex)}...]
    POST /control/seed      {"notebooks": [{"name", "stack"}],
                             "notes": [{"notebookGuid", "title", "content"}]}
                            -> {"notebooks": [guid...], "notes": [guid...]}
    POST /control/fault     {"call": name or "*", "mode": ..., "times": 1, ...}
    POST /control/token     {"token": t or null}   (null accepts any token)
    POST /control/reset     forget everything (token check included)
    POST /control/resume    bodies paused by pauseBody are read on

Fault modes (each answers the next `times` matching calls instead of the
handler): userException {errorCode, parameter}, systemException {errorCode,
message}, notFoundException {identifier, key}, applicationException {type,
message}, status {status, body}, close (drop the connection, no answer),
closeAfterReply (answer, then drop the connection), truncate {keep} (the
reply cut to `keep` bytes, half by default, with a matching Content-Length),
hostileCount (a list announcing 2^31-1 elements), hostileLength (a string
announcing 2^31-16 bytes), raw {status, body (hex), contentType}, sized
{size} (a good reply of exactly `size` bytes: one notebook whose name fills
it), closeBeforeBody (drop the connection once the call's name is read, the
rest of the body unread), pauseBody {after} (read `after` bytes of the body,
1 MiB by default, count the call in the state's "paused", then wait for POST
/control/resume before the rest), trickle {in: "headers" | "body", every,
seconds} (200 a piece every so many seconds, without end or, after `seconds`,
with the rest of the call's real reply at once), silent {seconds} (no answer for
that long, 60 by default).
"""

import argparse
import base64
import hashlib
import http.server
import json
import os
import re
import shutil
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unicodedata
import uuid
import xml.etree.ElementTree as ElementTree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "testsupport"))
import tlsfake  # noqa: E402

# Service error codes the fake uses; the client treats them as opaque numbers
# except for the expired token.
BAD_DATA_FORMAT = 1
DATA_REQUIRED = 5
AUTH_EXPIRED = 9
ENML_VALIDATION = 11


def generate_code(workdir):
    """Runs the Thrift compiler on the test IDL and makes the result importable.

    The included file is copied with a Python namespace of its own: left as
    "types" its package would hide the standard library's `types` module."""
    src = os.path.join(HERE, "thrift")
    idl = os.path.join(workdir, "idl")
    out = os.path.join(workdir, "gen")
    os.makedirs(idl)
    os.makedirs(out)
    with open(os.path.join(src, "types.thrift"), encoding="utf-8") as f:
        types_idl = [line for line in f if not line.lstrip().startswith("namespace py")]
    with open(os.path.join(idl, "types.thrift"), "w", encoding="utf-8") as f:
        f.write("namespace py ruru_types\n")
        f.writelines(types_idl)
    shutil.copy(os.path.join(src, "notestore.thrift"), idl)
    subprocess.run(["thrift", "-r", "--gen", "py", "-out", out,
                    os.path.join(idl, "notestore.thrift")], check=True)
    sys.path.insert(0, out)


parser = argparse.ArgumentParser()
parser.add_argument("--cert")
parser.add_argument("--key")
parser.add_argument("--token")
options = parser.parse_args()

workdir = tempfile.mkdtemp(prefix="fake-notestore-")
try:
    generate_code(workdir)

    from thrift.Thrift import TApplicationException, TMessageType, TType  # noqa: E402
    from thrift.protocol import TBinaryProtocol  # noqa: E402
    from thrift.transport import TTransport  # noqa: E402
    from ruru_notestore import NoteStore  # noqa: E402
    from ruru_types import ttypes as T  # noqa: E402
finally:
    # Everything is imported; the generated files are no longer needed.
    shutil.rmtree(workdir, ignore_errors=True)


class OldStyleTolerantProtocol(TBinaryProtocol.TBinaryProtocol):
    """python3-thrift returns an old-style message name as bytes, which the
    generated processor then fails to find; decode it."""

    def readMessageBegin(self):
        name, kind, seqid = super().readMessageBegin()
        if isinstance(name, bytes):
            name = name.decode("utf-8", "replace")
        return name, kind, seqid


lock = threading.RLock()
state = {}


def reset():
    if "resume" in state:
        state["resume"].set()
    state.clear()
    state.update(notebooks=[], notes=[], requests=[], faults=[], usn=0,
                 token=options.token, paused=0, resume=threading.Event())


# Faults that act before the body is read.
BEFORE_BODY = ("closeBeforeBody", "pauseBody")


reset()


def next_usn():
    state["usn"] += 1
    return state["usn"]


def now_ms():
    return int(time.time() * 1000)


# ---------------------------------------------------------------- validation

def user_error(code, parameter):
    return T.RURUUserException(errorCode=code, parameter=parameter)


def bad_text(text, minimum, maximum):
    """The service's rule for names and titles: length within bounds, no
    control or line/paragraph separators, no blank at either end."""
    if text is None:
        return "missing"
    if not minimum <= len(text) <= maximum:
        return "length"
    for ch in text:
        if unicodedata.category(ch) in ("Cc", "Zl", "Zp"):
            return "character"
    if unicodedata.category(text[0]).startswith("Z") or unicodedata.category(text[-1]).startswith("Z"):
        return "blank"
    return None


MIME_RE = re.compile(r"^[A-Za-z]+/[A-Za-z0-9._+-]+$")


def check_token(token):
    if state["token"] is not None and token != state["token"]:
        raise user_error(AUTH_EXPIRED, "authenticationToken")


def check_notebook(notebook):
    if notebook is None:
        raise user_error(DATA_REQUIRED, "Notebook")
    problem = bad_text(notebook.name, 1, 100)
    if problem == "missing":
        raise user_error(DATA_REQUIRED, "Notebook.name")
    if problem:
        raise user_error(BAD_DATA_FORMAT, "Notebook.name")
    if notebook.stack is not None and bad_text(notebook.stack, 1, 100):
        raise user_error(BAD_DATA_FORMAT, "Notebook.stack")


def check_note(note):
    if note is None:
        raise user_error(DATA_REQUIRED, "Note")
    problem = bad_text(note.title, 1, 255)
    if problem == "missing":
        raise user_error(DATA_REQUIRED, "Note.title")
    if problem:
        raise user_error(BAD_DATA_FORMAT, "Note.title")
    if note.content is None:
        raise user_error(DATA_REQUIRED, "Note.content")
    if note.notebookGuid is not None and find_notebook(note.notebookGuid) is None:
        raise T.RURUNotFoundException(identifier="Note.notebookGuid", key=note.notebookGuid)
    hashes = set()
    for resource in note.resources or []:
        data = resource.data
        if data is None or data.body is None:
            raise user_error(DATA_REQUIRED, "Resource.data")
        if data.bodyHash != hashlib.md5(data.body).digest():
            raise user_error(BAD_DATA_FORMAT, "Resource.data.bodyHash")
        if data.size != len(data.body):
            raise user_error(BAD_DATA_FORMAT, "Resource.data.size")
        if resource.mime is None or not MIME_RE.match(resource.mime):
            raise user_error(BAD_DATA_FORMAT, "Resource.mime")
        hashes.add(data.bodyHash.hex())
    try:
        root = ElementTree.fromstring(note.content.encode("utf-8"))
    except ElementTree.ParseError as e:
        raise user_error(ENML_VALIDATION, "Note.content: " + str(e))
    if root.tag != "en-note":
        raise user_error(ENML_VALIDATION, "Note.content: root element is not en-note")
    for media in root.iter("en-media"):
        if media.get("hash", "").lower() not in hashes or not media.get("type"):
            raise user_error(ENML_VALIDATION, "Note.content: en-media without a matching resource")


def find_notebook(guid):
    return next((nb for nb in state["notebooks"] if nb.guid == guid), None)


# ------------------------------------------------------------------ handler

class Handler:
    def listNotebooks(self, token):
        check_token(token)
        return list(state["notebooks"])

    def createNotebook(self, token, notebook):
        check_token(token)
        check_notebook(notebook)
        return add_notebook(notebook.name, notebook.stack)

    def findNotes(self, token, note_filter, offset, max_notes):
        check_token(token)
        if note_filter is None:
            raise user_error(DATA_REQUIRED, "NoteFilter")
        if note_filter.notebookGuid is not None and find_notebook(note_filter.notebookGuid) is None:
            raise T.RURUNotFoundException(identifier="NoteFilter.notebookGuid",
                                          key=note_filter.notebookGuid)
        if offset < 0 or max_notes < 0:
            raise user_error(BAD_DATA_FORMAT, "offset" if offset < 0 else "maxNotes")
        hits = [n for n in state["notes"]
                if n.active == bool(not note_filter.inactive)
                and note_filter.notebookGuid in (None, n.notebookGuid)]
        page = [T.Note(guid=n.guid, title=n.title, notebookGuid=n.notebookGuid,
                       created=n.created, updated=n.updated, active=n.active,
                       updateSequenceNum=n.updateSequenceNum)
                for n in hits[offset:offset + max_notes]]
        return T.NoteList(startIndex=offset, totalNotes=len(hits), notes=page)

    def createNote(self, token, note):
        check_token(token)
        check_note(note)
        if note.notebookGuid is None:
            default = next(iter(state["notebooks"]), None) or add_notebook("Notebook", None)
            note.notebookGuid = default.guid
        return add_note(note)

    def deleteNote(self, token, guid):
        check_token(token)
        note = next((n for n in state["notes"] if n.guid == guid), None)
        if note is None or not note.active:
            raise T.RURUNotFoundException(identifier="Note.guid", key=guid)
        note.active = False
        note.deleted = now_ms()
        note.updateSequenceNum = next_usn()
        return note.updateSequenceNum


def add_notebook(name, stack):
    stamp = now_ms()
    notebook = T.Notebook(guid=str(uuid.uuid4()), name=name, stack=stack,
                          updateSequenceNum=next_usn(), defaultNotebook=False,
                          serviceCreated=stamp, serviceUpdated=stamp, published=False)
    state["notebooks"].append(notebook)
    return notebook


def add_note(note):
    note.guid = str(uuid.uuid4())
    content = note.content.encode("utf-8")
    note.contentHash = hashlib.md5(content).digest()
    note.contentLength = len(content)
    note.created = note.created if note.created is not None else now_ms()
    note.updated = note.created
    note.active = True
    note.deleted = None
    note.updateSequenceNum = next_usn()
    for resource in note.resources or []:
        resource.guid = str(uuid.uuid4())
        resource.noteGuid = note.guid
        resource.updateSequenceNum = note.updateSequenceNum
    state["notes"].append(note)
    return note


# ------------------------------------------------------------ hostile replies

def hostile_reply(call, what):
    """A REPLY whose success value announces far more than the body holds:
    a list of 2^31-1 structs (what == "count") or a string of 2^31-16 bytes."""
    buf = TTransport.TMemoryBuffer()
    p = TBinaryProtocol.TBinaryProtocol(buf)
    p.writeMessageBegin(call, TMessageType.REPLY, 0)
    p.writeStructBegin("result")
    # Where the lie goes: (field id, type) from the result struct inwards.
    paths = {
        "listNotebooks": {"count": [(0, TType.LIST)],
                          "string": [(0, TType.LIST), ("one", None), (2, TType.STRING)]},
        "createNotebook": {"count": [(0, TType.STRUCT), (14, TType.LIST)],
                           "string": [(0, TType.STRUCT), (2, TType.STRING)]},
        "findNotes": {"count": [(0, TType.STRUCT), (3, TType.LIST)],
                      "string": [(0, TType.STRUCT), (3, TType.LIST), ("one", None), (2, TType.STRING)]},
        "createNote": {"count": [(0, TType.STRUCT), (13, TType.LIST)],
                       "string": [(0, TType.STRUCT), (2, TType.STRING)]},
    }
    default = {"count": [(7, TType.LIST)], "string": [(7, TType.STRING)]}
    for fid, ftype in paths.get(call, default)[what]:
        if fid == "one":
            p.writeListBegin(TType.STRUCT, 1)
        else:
            p.writeFieldBegin("f", ftype, fid)
    if what == "count":
        p.writeListBegin(TType.STRUCT, 0x7FFFFFFF)
    else:
        buf.write(struct.pack(">i", 0x7FFFFFF0))
    buf.write(b"\x00" * 8)
    return buf.getvalue()


def sized_reply(body, size):
    """The call's reply as a list of one notebook whose name makes it
    exactly `size` bytes long."""
    class OneNotebook:
        def __init__(self, name):
            self.name = name

        def __getattr__(self, call):
            return lambda *args: [T.Notebook(name=self.name)]

    def reply(name):
        out = TTransport.TMemoryBuffer()
        NoteStore.Processor(OneNotebook(name)).process(
            OldStyleTolerantProtocol(TTransport.TMemoryBuffer(body)), TBinaryProtocol.TBinaryProtocol(out))
        return out.getvalue()

    return reply("x" * (size - len(reply(""))))


# --------------------------------------------------------------- HTTP server

class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class RequestHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stderr.write("fake-notestore: " + (fmt % args) + "\n")

    def send_body(self, status, body, content_type):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()

    def send_json(self, value, status=200):
        self.send_body(status, json.dumps(value).encode("utf-8"), "application/json")

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length)

    def do_GET(self):
        with lock:
            if self.path == "/control/state":
                self.send_json({"notebooks": [notebook_json(nb) for nb in state["notebooks"]],
                                "notes": [note_json(n) for n in state["notes"]],
                                "paused": state["paused"]})
            elif self.path == "/control/requests":
                self.send_json(state["requests"])
            else:
                self.send_body(404, b"not found", "text/plain")

    def do_POST(self):
        if self.path.startswith("/control/"):
            body = self.read_body()
            with lock:
                self.control(self.path[len("/control/"):], json.loads(body or b"{}"))
            return
        length = int(self.headers.get("Content-Length") or 0)
        head = self.rfile.read(min(length, 256))
        with lock:
            fault = self.take_fault(peek_call_name(head), before_body=True)
            if fault and fault["mode"] == "closeBeforeBody":
                self.log_request_of(head)
        if fault and fault["mode"] == "closeBeforeBody":
            self.close_now()
            return
        if fault:
            head += self.rfile.read(max(0, min(length, int(fault.get("after", 1 << 20))) - len(head)))
            with lock:
                state["paused"] += 1
                resume = state["resume"]
            resume.wait(120)
        body = head + self.rfile.read(length - len(head))
        if len(body) < length:
            self.log_message("the body ended after %d of %d bytes", len(body), length)
            self.close_now()
            return
        with lock:
            slow = self.notestore(body)
        # Outside the lock: the control requests go on meanwhile.
        if slow:
            slow()

    def control(self, what, arg):
        if what == "reset":
            reset()
            self.send_json({})
        elif what == "resume":
            state["resume"].set()
            state["resume"] = threading.Event()
            self.send_json({})
        elif what == "token":
            state["token"] = arg.get("token")
            self.send_json({})
        elif what == "fault":
            fault = dict(arg)
            fault.setdefault("call", "*")
            fault.setdefault("times", 1)
            state["faults"].append(fault)
            self.send_json({})
        elif what == "seed":
            notebooks = [add_notebook(nb["name"], nb.get("stack")).guid
                         for nb in arg.get("notebooks", [])]
            notes = [add_note(T.Note(title=n["title"], notebookGuid=n["notebookGuid"],
                                     content=n.get("content", "<en-note/>"))).guid
                     for n in arg.get("notes", [])]
            self.send_json({"notebooks": notebooks, "notes": notes})
        else:
            self.send_body(404, b"unknown control", "text/plain")

    def take_fault(self, call, before_body=False):
        for fault in state["faults"]:
            if fault["call"] in ("*", call):
                if (fault["mode"] in BEFORE_BODY) != before_body:
                    return None
                fault["times"] -= 1
                if fault["times"] <= 0:
                    state["faults"].remove(fault)
                return fault
        return None

    def log_request_of(self, body):
        call = peek_call_name(body)
        state["requests"].append({"path": self.path, "call": call,
                                  "contentType": self.headers.get("Content-Type"),
                                  "body": body.hex()})
        return call

    def notestore(self, body):
        """Answers a call; returns what is left to do once the lock is
        released, if anything."""
        call = self.log_request_of(body)
        fault = self.take_fault(call)
        mode = fault["mode"] if fault else None
        if mode == "close":
            self.close_now()
            return None
        if mode == "silent":
            return lambda: time.sleep(float(fault.get("seconds", 60)))
        if mode == "sized":
            self.send_body(200, sized_reply(body, int(fault["size"])), "application/x-thrift")
            return None
        if mode == "status":
            page = fault.get("body", "<html><body><h1>Service Unavailable</h1></body></html>")
            self.send_body(int(fault.get("status", 503)), page.encode("utf-8"), "text/html")
            return
        if mode == "raw":
            self.send_body(int(fault.get("status", 200)), bytes.fromhex(fault.get("body", "")),
                           fault.get("contentType", "application/x-thrift"))
            return
        if mode in ("hostileCount", "hostileLength"):
            reply = hostile_reply(call, "count" if mode == "hostileCount" else "string")
            self.send_body(200, reply, "application/x-thrift")
            return

        handler = Handler()
        if mode in ("userException", "systemException", "notFoundException", "applicationException"):
            handler = FaultingHandler(exception_for(fault))
        inbuf = TTransport.TMemoryBuffer(body)
        outbuf = TTransport.TMemoryBuffer()
        processor = NoteStore.Processor(handler)
        try:
            processor.process(OldStyleTolerantProtocol(inbuf),
                              TBinaryProtocol.TBinaryProtocol(outbuf))
        except Exception as e:  # a request the fake cannot even parse
            self.log_message("bad request: %r", e)
            self.send_body(400, b"bad request", "text/plain")
            return
        reply = outbuf.getvalue()
        if mode == "trickle":
            # Without `seconds`, the long body of tlsfake: the trickle lasts.
            body = {"body": reply} if "seconds" in fault else {}
            return lambda: tlsfake.trickle(self, fault.get("in", "body"), float(fault.get("every", 0.2)),
                                           seconds=fault.get("seconds"), **body)
        if mode == "truncate":
            reply = reply[:int(fault.get("keep", len(reply) // 2))]
        self.send_body(200, reply, "application/x-thrift")
        if mode == "closeAfterReply":
            self.close_now()

    def close_now(self):
        self.close_connection = True
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def exception_for(fault):
    mode = fault["mode"]
    if mode == "userException":
        return T.RURUUserException(errorCode=fault.get("errorCode"), parameter=fault.get("parameter"))
    if mode == "systemException":
        return T.RURUSystemException(errorCode=fault.get("errorCode"), message=fault.get("message"))
    if mode == "notFoundException":
        return T.RURUNotFoundException(identifier=fault.get("identifier"), key=fault.get("key"))
    return TApplicationException(int(fault.get("type", TApplicationException.INTERNAL_ERROR)),
                                 fault.get("message"))


class FaultingHandler:
    def __init__(self, exception):
        self.exception = exception

    def __getattr__(self, name):
        def fail(*args):
            raise self.exception
        return fail


def peek_call_name(body):
    try:
        name, _, _ = OldStyleTolerantProtocol(TTransport.TMemoryBuffer(body)).readMessageBegin()
        return name
    except Exception:
        return None


def b64(data):
    return None if data is None else base64.b64encode(data).decode("ascii")


def notebook_json(nb):
    return {"guid": nb.guid, "name": nb.name, "stack": nb.stack,
            "updateSequenceNum": nb.updateSequenceNum}


def note_json(n):
    return {"guid": n.guid, "title": n.title, "content": n.content,
            "notebookGuid": n.notebookGuid, "created": n.created, "updated": n.updated,
            "active": n.active, "updateSequenceNum": n.updateSequenceNum,
            "resources": [resource_json(r) for r in n.resources or []]}


def resource_json(r):
    def data(d):
        if d is None:
            return None
        return {"size": d.size, "bodyHash": None if d.bodyHash is None else d.bodyHash.hex(),
                "body": b64(d.body)}
    return {"guid": r.guid, "mime": r.mime, "data": data(r.data),
            "recognition": data(r.recognition)}


def main():
    tlsfake.exit_with_parent()
    server = Server(("127.0.0.1", 0), RequestHandler)
    if options.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
