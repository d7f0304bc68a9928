"""The smallest tlsfake service: answers 204 to everything."""

import tlsfake


class Handler(tlsfake.Handler):
    def do_GET(self):
        self.reply(204)


if __name__ == "__main__":
    tlsfake.serve(Handler)
