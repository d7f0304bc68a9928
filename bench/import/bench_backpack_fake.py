"""The fake Backpack service of the tests (src/backpack/tests/backpack_fake.py)
for the import benchmark, with asset files made on request instead of carried
in the site description, so that a 100 MB file costs no JSON:

  "generated": {"<asset id>/<file name>": size in bytes}

Each generated file starts with its own key and continues with a fixed byte
pattern; it is streamed in 1 MiB pieces. Answers go out without Nagle's
delay, so that the benchmark measures the importer and not the fake's stalls.
The link's round-trip time and bandwidth are set as bench_link.py says;
requests are logged without their bodies.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "src", "backpack", "tests"))

import backpack_fake  # noqa: E402
import bench_link  # noqa: E402
import tlsfake  # noqa: E402

PIECE = bytes((i * 131 + 7) % 256 for i in range(1 << 20))


class Handler(backpack_fake.Handler):
    # Headers and body go out in separate writes: without this each answer
    # waits for the client's delayed acknowledgement, and the benchmark
    # would measure the fake's stalls.
    disable_nagle_algorithm = True

    def asset(self, asset_id, name):
        key = "%s/%s" % (asset_id, name)
        size = backpack_fake.site().get("generated", {}).get(key)
        if size is None:
            return super().asset(asset_id, name)
        if "bp_session=ok" not in (self.headers.get("Cookie") or ""):
            return self.reply(302, "", headers={"Location": "/login.html"})
        head = key.encode("utf-8")[:size]
        self.send_response_only(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        self.wfile.write(head)
        left = size - len(head)
        while left > 0:
            piece = PIECE[:min(left, len(PIECE))]
            self.wfile.write(piece)
            left -= len(piece)
        self.wfile.flush()


class RequestLog(list):
    def append(self, entry):
        entry.pop("body", None)
        super().append(entry)


def setup(server):
    backpack_fake.setup(server)
    backpack_fake.STATE["requests"] = RequestLog()


bench_link.install(Handler)

if __name__ == "__main__":
    tlsfake.serve(Handler, setup=setup)
