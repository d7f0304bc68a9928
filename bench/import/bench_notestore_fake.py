"""The fake NoteStore of the tests (src/ravadido/tests/fake_notestore.py) for
the import benchmark, answering createNote as the service does: the created
note comes back without its content and without its resources' bodies (their
size and hash stay). The fake keeps no bodies either, of notes or of
requests, and its link is set as bench_link.py says.
"""

import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "src", "ravadido", "tests"))

import bench_link  # noqa: E402
import fake_notestore as fake  # noqa: E402

_create_note = fake.Handler.createNote


def create_note(self, token, note):
    # The stored note is the one answered: neither keeps the bodies.
    created = _create_note(self, token, note)
    created.content = None
    for resource in created.resources or []:
        for data in (resource.data, resource.recognition):
            if data is not None:
                data.body = None
    return created


class RequestLog(list):
    def append(self, entry):
        entry.pop("body", None)
        super().append(entry)


_reset = fake.reset


def reset():
    _reset()
    fake.state["requests"] = RequestLog()


fake.Handler.createNote = create_note
fake.reset = reset
reset()
# Headers and body go out in separate writes: without this each answer waits
# for the client's delayed acknowledgement.
fake.RequestHandler.disable_nagle_algorithm = True
bench_link.install(fake.RequestHandler)

if __name__ == "__main__":
    fake.main()
