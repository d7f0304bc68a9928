"""HTTPS fake for the HTTP layer's tests. Paths:
/echo                 JSON of method, path, headers and body
/status/<n>           answers status n (extra headers from the query)
/redirect?to=<path>   302 (or status=<n>) to <path>
/setcookie?<n>=<v>    sets the cookie n=v (path /), "secure" in the query adds Secure
/slow                 never answers
/close                closes the connection without an answer
/bytes/<n>            n bytes of a repeating pattern
/disposition?cd=<v>   answers with that Content-Disposition
/chain/<n>            n redirects in a row, then 200
/chunked/<n>          n bytes in chunks, no Content-Length
/unframed/<n>         n bytes ended by the close alone (cut=<m>: only m bytes),
                      "tls_close" sends a TLS close_notify after them
/conn?delay=<s>        the client's port (one per connection), after s seconds
/trickle/<where>?every=<s>&seconds=<s>  200 at a trickle (tlsfake.trickle):
                      "headers" or "body"; the rest at once after "seconds"
/arm-drop             the next /create, when it comes on a connection that
                      already served a request, is counted and then dropped
                      without an answer: a kept-alive connection closing at
                      the worst moment
/create/<key>         counts a creation of <key>; /count/<key> tells how many
"""

import threading

import json
import time
import urllib.parse

import tlsfake


LOCK = threading.Lock()
STATE = {"armed": False, "created": {}}


class Handler(tlsfake.Handler):
    served = 0  # requests answered on this connection

    def handle_one_request(self):
        super().handle_one_request()
        self.served += 1

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
            status = int(parts[1])
            # 204 and 304 carry no body: one would be read as the next answer
            # on the kept-alive connection.
            self.reply(status, "" if status in (204, 304) else "status %d" % status, headers=query)
        elif parts[0] == "redirect":
            self.reply(int(dict(query).get("status", "302")), "", headers={"Location": dict(query)["to"]})
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
        elif parts[0] == "chain":
            n = int(parts[1])
            if n:
                self.reply(302, "", headers={"Location": "/chain/%d" % (n - 1)})
            else:
                self.reply(200, "end of chain")
        elif parts[0] == "chunked":
            self.send_response_only(200)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            left = int(parts[1])
            while left:
                piece = min(left, 65536)
                self.wfile.write(b"%x\r\n" % piece + b"x" * piece + b"\r\n")
                left -= piece
            self.wfile.write(b"0\r\n\r\n")
        elif parts[0] == "unframed":
            self.close_connection = True
            self.send_response_only(200)
            self.end_headers()
            self.wfile.write(b"x" * int(dict(query).get("cut", parts[1])))
            if "tls_close" in dict(query):
                self.request.unwrap()  # an SSLError when the client closes first
        elif parts[0] == "conn":
            time.sleep(float(dict(query).get("delay", "0")))
            self.reply(200, str(self.client_address[1]), content_type="text/plain")
        elif parts[0] == "trickle":
            seconds = dict(query).get("seconds")
            tlsfake.trickle(self, parts[1], float(dict(query).get("every", "0.2")),
                            seconds=None if seconds is None else float(seconds))
        elif parts[0] == "arm-drop":
            with LOCK:
                STATE["armed"] = True
            self.reply(200, "armed")
        elif parts[0] == "create":
            with LOCK:
                STATE["created"][parts[1]] = STATE["created"].get(parts[1], 0) + 1
                drop = STATE["armed"] and self.served > 0
                STATE["armed"] = False
            if drop:
                self.close_connection = True
            else:
                self.reply(200, "created")
        elif parts[0] == "count":
            with LOCK:
                self.reply(200, str(STATE["created"].get(parts[1], 0)), content_type="text/plain")
        elif parts[0] == "disposition":
            self.reply(200, "file", headers={"Content-Disposition": dict(query)["cd"]})
        else:
            self.reply(404, "not found")

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any


if __name__ == "__main__":
    tlsfake.serve(Handler)
