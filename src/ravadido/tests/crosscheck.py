"""Decodes records with the Thrift compiler's Python output and encodes them
again. Argument: the folder the compiler wrote into. Input lines:
"<struct name> <hex>"; output lines: "<struct name> <hex>", or
"<struct name> ERROR <text>". An input line "FIELDS <struct name>" is
answered with the struct's fields in id order, "<id>:<type>:<name> " each."""

import sys

sys.path.insert(0, sys.argv[1])

from thrift.protocol import TBinaryProtocol  # noqa: E402
from thrift.transport import TTransport  # noqa: E402
from leafhaul_thriftgen.types import ttypes  # noqa: E402

for line in sys.stdin:
    if not line.strip():
        continue
    name, data = line.split()
    if name == "FIELDS":
        spec = getattr(ttypes, data).thrift_spec
        print(data, "".join("%d:%d:%s " % f[:3] for f in spec if f is not None))
        continue
    try:
        source = TTransport.TMemoryBuffer(bytes.fromhex(data))
        record = getattr(ttypes, name)()
        # Exceptions are immutable: their read is a class method that
        # returns the record.
        read = record.read(TBinaryProtocol.TBinaryProtocol(source, strictRead=False, strictWrite=False))
        if read is not None:
            record = read
        left = len(source.read(1 << 30))
        if left:
            raise ValueError("%d bytes left unread" % left)
        sink = TTransport.TMemoryBuffer()
        record.write(TBinaryProtocol.TBinaryProtocol(sink, strictRead=False, strictWrite=False))
        print(name, sink.getvalue().hex())
    except Exception as e:  # reported to the test, which fails on it
        print(name, "ERROR", repr(e).replace("\n", " "))
