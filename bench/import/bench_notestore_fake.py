"""The fake NoteStore of the tests (src/ravadido/tests/fake_notestore.py) for
the import benchmark, answering createNote as the service does: the created
note comes back without its content and without its resources' bodies (their
size and hash stay), so the reply does not carry every upload back.
"""

import copy
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "src", "ravadido", "tests"))

import fake_notestore as fake  # noqa: E402

_create_note = fake.Handler.createNote


def create_note(self, token, note):
    reply = copy.copy(_create_note(self, token, note))
    reply.content = None
    resources = []
    for resource in reply.resources or []:
        resource = copy.copy(resource)
        if resource.data is not None:
            resource.data = copy.copy(resource.data)
            resource.data.body = None
        resources.append(resource)
    reply.resources = resources if reply.resources is not None else None
    return reply


fake.Handler.createNote = create_note
# Headers and body go out in separate writes: without this each answer waits
# for the client's delayed acknowledgement.
fake.RequestHandler.disable_nagle_algorithm = True

if __name__ == "__main__":
    fake.main()
