"""HTTPS fake for the HTTP layer's tests. Paths:
/echo                 JSON of method, path, headers and body
/status/<n>           answers status n (extra headers from the query)
/redirect?to=<path>   302 to <path>
/setcookie?<n>=<v>    sets the cookie n=v (path /), "secure" in the query adds Secure
/slow                 never answers
/close                closes the connection without an answer
/bytes/<n>            n bytes of a repeating pattern
/disposition?cd=<v>   answers with that Content-Disposition
"""

import json
import time
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
            self.reply(int(parts[1]), "status %s" % parts[1], headers=query)
        elif parts[0] == "redirect":
            self.reply(302, "", headers={"Location": dict(query)["to"]})
        elif parts[0] == "setcookie":
            flags = "; Secure" if any(k == "secure" for k, _ in query) else ""
            cookies = [("Set-Cookie", "%s=%s; Path=/%s" % (k, v, flags)) for k, v in query if k != "secure"]
            self.reply(200, "ok", headers=cookies)
        elif parts[0] == "slow":
            time.sleep(30)
        elif parts[0] == "close":
            self.close_connection = True
        elif parts[0] == "bytes":
            n = int(parts[1])
            self.send_response_only(200)
            self.send_header("Content-Length", str(n))
            self.end_headers()
            self.wfile.write((bytes(range(256)) * (n // 256 + 1))[:n])
        elif parts[0] == "disposition":
            self.reply(200, "file", headers={"Content-Disposition": dict(query)["cd"]})
        else:
            self.reply(404, "not found")

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any


if __name__ == "__main__":
    tlsfake.serve(Handler)
