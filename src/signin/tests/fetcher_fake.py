"""HTTP fake for the fetcher's tests: plain HTTP on 127.0.0.1, or HTTPS when
started with "--cert FILE --key FILE". Paths:
/echo                 JSON of method, path, headers and body
/status/<n>?body=<t>  answers status n with body t
/redirect?to=<url>    302 to <url>
/hops/<n>             302 to /hops/<n-1> while n > 0; then 200 "arrived"
/setcookie?<n>=<v>    sets the cookie n=v (path /)
/basic                wants Basic credentials user:pw, else 401 with a challenge
/bytes/<n>            n bytes of a repeating pattern
"""

import base64
import json
import sys
import urllib.parse

import tlsfake


class Handler(tlsfake.Handler):
    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qsl(url.query, keep_blank_values=True)
        body = self.read_body()
        parts = url.path.strip("/").split("/")
        if parts[0] == "echo":
            data = {"method": self.command, "path": self.path,
                    "headers": [[k, v] for k, v in self.headers.items()],
                    "body": body.decode("utf-8", "replace")}
            self.reply(200, json.dumps(data), content_type="application/json")
        elif parts[0] == "status":
            self.reply(int(parts[1]), dict(query).get("body", ""), content_type="text/plain")
        elif parts[0] == "redirect":
            self.reply(302, "moved", headers={"Location": dict(query)["to"]}, content_type="text/plain")
        elif parts[0] == "hops":
            n = int(parts[1])
            if n > 0:
                self.reply(302, "", headers={"Location": "/hops/%d" % (n - 1)}, content_type="text/plain")
            else:
                self.reply(200, "arrived", content_type="text/plain")
        elif parts[0] == "setcookie":
            cookies = [("Set-Cookie", "%s=%s; Path=/" % (k, v)) for k, v in query]
            self.reply(200, "ok", headers=cookies, content_type="text/plain")
        elif parts[0] == "basic":
            expected = "Basic " + base64.b64encode(b"user:pw").decode()
            if self.headers.get("Authorization") == expected:
                self.reply(200, "welcome", content_type="text/plain")
            else:
                self.reply(401, "denied", headers={"WWW-Authenticate": 'Basic realm="fake"'},
                           content_type="text/plain")
        elif parts[0] == "bytes":
            n = int(parts[1])
            self.send_response_only(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            chunk = bytes(range(256)) * 64
            sent = 0
            while sent < n:
                piece = chunk[: min(len(chunk), n - sent)]
                self.wfile.write(piece)
                sent += len(piece)
        else:
            self.reply(404, "not found", content_type="text/plain")

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any


if __name__ == "__main__":
    if "--cert" in sys.argv:
        tlsfake.serve(Handler)
    else:
        server = tlsfake.Server(("127.0.0.1", 0), Handler)
        tlsfake.exit_with_parent()
        print("PORT %d" % server.server_address[1], flush=True)
        try:
            server.serve_forever()
        except KeyboardInterrupt:
            pass
