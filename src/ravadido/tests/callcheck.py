"""Checks calls against the Thrift compiler's Python output for
thrift/notestore.thrift. Argument: the folder the compiler wrote into.

Input (JSON on stdin):
    {"exceptions": {"userException": hex, ...},
     "calls": [{"call", "request": hex, "success": value (absent for a call
                that returns nothing)}]}
Output (JSON on stdout), one entry per call in input order:
    [{"call", "args": {field: value}, "replies": {case: hex}} or
     {"call", "error": text}]

A request is decoded with the call's *_args struct. The replies are what the
call's *_result struct writes, under a strict header: "success", one per
declared exception, "empty" (nothing set) and "undeclared" (a struct field
with an id the result does not declare, alone: 0 for a call that returns
nothing, else the id after the last exception).

Values: strings as text, binary as hex, integers as decimal text (an i64
does not survive a JSON number), bools as bools, structs as the hex of what
the generated code writes, lists as arrays, an absent value as null."""

import json
import sys

sys.path.insert(0, sys.argv[1])

from thrift.Thrift import TMessageType, TType  # noqa: E402
from thrift.protocol import TBinaryProtocol  # noqa: E402
from thrift.transport import TTransport  # noqa: E402
from ruru_notestore import NoteStore  # noqa: E402

INTEGERS = (TType.BYTE, TType.I16, TType.I32, TType.I64)


def protocol(transport):
    return TBinaryProtocol.TBinaryProtocol(transport, strictRead=False, strictWrite=True)


def read_struct(cls, data):
    source = TTransport.TMemoryBuffer(data)
    record = cls()
    # Exceptions are immutable: their read is a class method that returns
    # the record.
    read = record.read(protocol(source))
    if read is not None:
        record = read
    expect_consumed(source)
    return record


def write_struct(record):
    sink = TTransport.TMemoryBuffer()
    record.write(protocol(sink))
    return sink.getvalue()


def expect_consumed(source):
    left = len(source.read(1 << 30))
    if left:
        raise ValueError("%d bytes left unread" % left)


def to_json(ttype, spec, value):
    if value is None:
        return None
    if ttype == TType.BOOL:
        return bool(value)
    if ttype in INTEGERS:
        return str(value)
    if ttype == TType.STRING:
        return value.hex() if spec == "BINARY" else value
    if ttype == TType.STRUCT:
        return write_struct(value).hex()
    if ttype == TType.LIST:
        return [to_json(spec[0], spec[1], e) for e in value]
    raise ValueError("no JSON form for type %d" % ttype)


def from_json(ttype, spec, value):
    if value is None:
        return None
    if ttype == TType.BOOL:
        return bool(value)
    if ttype in INTEGERS:
        return int(value)
    if ttype == TType.STRING:
        return bytes.fromhex(value) if spec == "BINARY" else value
    if ttype == TType.STRUCT:
        return read_struct(spec[0], bytes.fromhex(value))
    if ttype == TType.LIST:
        return [from_json(spec[0], spec[1], e) for e in value]
    raise ValueError("no value of type %d from JSON" % ttype)


def fields(cls):
    return [f for f in cls.thrift_spec if f is not None]


def decode_request(call, data):
    source = TTransport.TMemoryBuffer(data)
    proto = protocol(source)
    name, kind, seqid = proto.readMessageBegin()
    if isinstance(name, bytes):  # python3-thrift gives an old-style name as bytes
        name = name.decode("utf-8")
    if (name, kind, seqid) != (call, TMessageType.CALL, 0):
        raise ValueError("header %r" % ((name, kind, seqid),))
    args = getattr(NoteStore, call + "_args")()
    args.read(proto)
    proto.readMessageEnd()
    expect_consumed(source)
    return {f[2]: to_json(f[1], f[3], getattr(args, f[2])) for f in fields(type(args))}


def reply(call, write_body):
    sink = TTransport.TMemoryBuffer()
    proto = protocol(sink)
    proto.writeMessageBegin(call, TMessageType.REPLY, 0)
    write_body(proto)
    proto.writeMessageEnd()
    return sink.getvalue().hex()


def replies(call, success, exceptions):
    cls = getattr(NoteStore, call + "_result")
    out = {}
    for field_id, ttype, name, spec, _ in fields(cls):
        if field_id == 0:
            value = from_json(ttype, spec, success)
        else:
            value = read_struct(spec[0], bytes.fromhex(exceptions[name]))
        out[name] = reply(call, cls(**{name: value}).write)
    out["empty"] = reply(call, cls().write)

    ids = [f[0] for f in fields(cls)]
    undeclared_id = max(ids) + 1 if 0 in ids else 0

    def undeclared(proto):
        proto.writeStructBegin(cls.__name__)
        proto.writeFieldBegin("undeclared", TType.STRUCT, undeclared_id)
        proto.writeStructBegin("Undeclared")
        proto.writeFieldBegin("text", TType.STRING, 1)
        proto.writeString("not for this call")
        proto.writeFieldEnd()
        proto.writeFieldStop()
        proto.writeStructEnd()
        proto.writeFieldEnd()
        proto.writeFieldStop()
        proto.writeStructEnd()

    out["undeclared"] = reply(call, undeclared)
    return out


def main():
    given = json.load(sys.stdin)
    out = []
    for entry in given["calls"]:
        call = entry["call"]
        try:
            out.append({"call": call,
                        "args": decode_request(call, bytes.fromhex(entry["request"])),
                        "replies": replies(call, entry.get("success"), given["exceptions"])})
        except Exception as e:  # reported to the test, which fails on it
            out.append({"call": call, "error": repr(e)})
    json.dump(out, sys.stdout)


main()
