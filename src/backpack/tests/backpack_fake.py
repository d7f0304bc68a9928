"""A fake Backpack service (XML web API, sign-in service and asset files) for
tests, on 127.0.0.1 over TLS. Every host name reaches it: the client's
"<site>.test.localhost:<port>" and the sign-in host alike.

Command line: tlsfake's "--cert F --key F", and optionally "--site FILE" with
the site description (JSON) below.

Site description (all keys optional):
  sitename, token, username, password   the account; a wrong token answers the
                                        403 error element, wrong sign-in data
                                        401 (sign-in service) or the login page
  compact      true: answers without white space between elements
  pages        [{"id", "title", "scope", "xml"}]: the page list; "xml" is the
               page-details answer returned as it stands. GET /pages/<id>
               shows the page as a browser would: a link away (id "away"),
               its title, its notes and to-do lists, and an element with
               id "Sidebar"
  items        {"<page id>/<list id>": "<item .../>..."}: items of a list
  reminders    text inside <reminders> of "<token>/reminders.xml"
  assets       {"<asset id>/<file name>": {"text" | "base64", "filename"}}:
               files under /assets/ and /thumbs/; "filename" is sent as the
               Content-Disposition suggestion

Control (any host, paths under /_fake/, not logged):
  POST /_fake/site      body: a site description; replaces the site
  POST /_fake/enqueue   body: {"path", "method"?, "status", "headers"?,
                        "body"? | "body_base64"?, "delay"?, "stall"?,
                        "trickle"?, "times"?}: a
                        canned answer used (before the site) by the next
                        "times" (default 1) requests whose path (without the
                        leading slash and query) equals "path" ("*": any);
                        "delay" seconds pass before answering; status 0
                        closes the connection without an answer; "stall"
                        seconds pass after the first half of the body;
                        "trickle" {"in": "headers" | "body", "every",
                        "seconds"?} answers 200 a piece every so many
                        seconds, without end or, after "seconds", with the
                        rest of "body" at once (tlsfake.trickle)
  GET  /_fake/requests  every other request so far: [{"method", "host",
                        "path", "headers", "body"}]
  POST /_fake/reset     forgets the requests and the queue
"""

import base64
import html
import json
import re
import threading
import time
import urllib.parse
from xml.sax.saxutils import quoteattr

import tlsfake

LOCK = threading.Lock()
STATE = {"site": {}, "queue": [], "requests": [], "next_id": 1000}


def site():
    return STATE["site"]


def layout(parts):
    """Joins element texts indented, or compact when the site says so."""
    if site().get("compact"):
        return "".join(parts)
    return "\n".join(parts)


def success(inner=""):
    if not inner:
        return '<response success="true"></response>' if site().get("compact") else \
            '<response success="true">\n</response>'
    return layout(['<response success="true">', inner, "</response>"])


def failure(code, text):
    return layout(['<?xml version="1.0" encoding="UTF-8"?>', '<response success="false">',
                   '  <error code="%d">%s</error>' % (code, text), "</response>"])


class Handler(tlsfake.Handler):
    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        path = url.path.lstrip("/")
        body = self.read_body()
        if path.startswith("_fake/"):
            return self.control(path[6:], body)
        with LOCK:
            STATE["requests"].append({"method": self.command, "host": self.headers.get("Host", ""),
                                      "path": path, "query": url.query,
                                      "headers": dict(self.headers.items()),
                                      "body": body.decode("utf-8", "replace")})
            canned = None
            for entry in STATE["queue"]:
                if entry.get("path") in ("*", path) and entry.get("method", self.command) == self.command:
                    canned = entry
                    entry["times"] = entry.get("times", 1) - 1
                    if entry["times"] <= 0:
                        STATE["queue"].remove(entry)
                    break
        if canned is not None:
            return self.answer_canned(canned)
        return self.answer_site(path, body)

    do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = handle_any

    # ---- control ----
    def control(self, what, body):
        with LOCK:
            if what == "site":
                STATE["site"] = json.loads(body or b"{}")
                return self.reply(200, "ok", content_type="text/plain")
            if what == "enqueue":
                STATE["queue"].append(json.loads(body))
                return self.reply(200, "ok", content_type="text/plain")
            if what == "requests":
                return self.reply(200, json.dumps(STATE["requests"]), content_type="application/json")
            if what == "reset":
                STATE["requests"] = []
                STATE["queue"] = []
                return self.reply(200, "ok", content_type="text/plain")
        self.reply(404, "unknown control", content_type="text/plain")

    def answer_canned(self, entry):
        if entry.get("delay"):
            time.sleep(float(entry["delay"]))
        data = base64.b64decode(entry["body_base64"]) if "body_base64" in entry else entry.get("body", "")
        if entry.get("trickle"):
            slow = entry["trickle"]
            given = {"body": data.encode() if isinstance(data, str) else data} if data else {}
            return tlsfake.trickle(self, slow["in"], float(slow.get("every", 0.2)),
                                   seconds=slow.get("seconds"), **given)
        status = int(entry.get("status", 200))
        if status == 0:
            self.close_connection = True
            return
        if entry.get("stall"):
            return self.reply_stalled(status, data.encode() if isinstance(data, str) else data,
                                      float(entry["stall"]), entry.get("headers") or {})
        self.reply(status, data, headers=entry.get("headers"), content_type="application/xml")

    def reply_stalled(self, status, data, seconds, headers):
        """Announces the whole body, sends its first half and waits before
        the rest: a download caught in the middle."""
        self.send_response_only(status)
        for name, value in headers.items():
            self.send_header(name, value)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        try:
            self.wfile.write(data[:len(data) // 2])
            self.wfile.flush()
            time.sleep(seconds)
            self.wfile.write(data[len(data) // 2:])
        except OSError:
            pass  # the client went away

    # ---- the service ----
    def answer_site(self, path, body):
        s = site()
        token = s.get("token", "")
        if path == "authenticate":
            return self.authenticate(body)
        if path == "login.html":
            return self.reply(200, "<html><body>Log in</body></html>", content_type="text/html")
        m = re.match(r"(assets|thumbs)/([^/]+)/as/(.+)$", path)
        if m:
            return self.asset(m.group(2), urllib.parse.unquote(m.group(3)))
        if path == "session/create":
            form = dict(urllib.parse.parse_qsl(body.decode("utf-8")))
            if form.get("username") == s.get("username") and form.get("password") == s.get("password"):
                return self.reply(200, success())
            return self.reply(302, "", headers={"Location": "/login.html"})

        if path.startswith(urllib.parse.quote(token, safe="") + "/reminders"):
            if self.command == "GET" and path.endswith("/reminders.xml"):
                return self.reply(200, layout(["<reminders>", s.get("reminders", ""), "</reminders>"]))
            if self.command == "DELETE":
                return self.reply(204, "")
        m = re.match(r"pages/([^/]+)/separators/([^/]+)\.xml$", path)
        if m:
            if not self.token_ok(body):
                return self.reply(200, failure(403, "Access denied"))
            return self.reply(200, " ") if self.command == "PUT" else self.reply(204, "")

        m = re.match(r"pages/([^/]+)$", path)
        if m and self.command == "GET":
            return self.page_html(urllib.parse.unquote(m.group(1)))

        if not path.startswith("ws/"):
            return self.reply(404, "not found", content_type="text/plain")
        if not self.token_ok(body):
            return self.reply(200, failure(403, "Access denied"))
        return self.api(path[3:])

    def token_ok(self, body):
        m = re.search(rb"<token>(.*?)</token>", body, re.S)
        if not m:
            return False
        sent = m.group(1).decode("utf-8").replace("&lt;", "<").replace("&gt;", ">") \
            .replace("&quot;", '"').replace("&apos;", "'").replace("&amp;", "&")
        return sent == site().get("token", "")

    def api(self, path):
        s = site()
        pages = {p.get("id"): p for p in s.get("pages", [])}
        if path == "pages/all":
            rows = ["  <page%s />" % "".join(" %s=%s" % (k, quoteattr(p[k]))
                                              for k in ("id", "title", "scope") if k in p)
                    for p in s.get("pages", [])]
            return self.reply(200, success(layout(["<pages>"] + rows + ["</pages>"])))
        m = re.match(r"page/([^/]+)$", path)
        if m:
            page = pages.get(urllib.parse.unquote(m.group(1)))
            if page is None:
                return self.reply(200, failure(404, "Page not found"))
            return self.reply(200, page.get("xml", success()))
        m = re.match(r"page/([^/]+)/", path)
        if m and urllib.parse.unquote(m.group(1)) not in pages:
            return self.reply(200, failure(404, "Page not found"))
        m = re.match(r"page/([^/]+)/lists/([^/]+)/items/list$", path)
        if m:
            key = "%s/%s" % (urllib.parse.unquote(m.group(1)), urllib.parse.unquote(m.group(2)))
            items = s.get("items", {})
            if key not in items:
                return self.reply(200, failure(404, "List not found"))
            return self.reply(200, success(layout(["<items>", items[key], "</items>"])))
        m = re.match(r"page/([^/]+)/lists/([^/]+)/items/add$", path)
        if m:
            with LOCK:
                STATE["next_id"] += 1
                new_id = STATE["next_id"]
            return self.reply(200, success('<item id="%d" completed="false">new</item>' % new_id))
        if path.startswith("page/"):
            return self.reply(200, success())
        return self.reply(404, "not found", content_type="text/plain")

    def page_html(self, page_id):
        """The page as the site shows it in a browser: a link away, its notes (Textile) and
        to-do lists in page order, and a sidebar."""
        import textile  # only previews need it: every other start of the fake is spared its import

        page = {p.get("id"): p for p in site().get("pages", [])}.get(page_id)
        if page is None:
            return self.reply(404, "not found", content_type="text/plain")
        xml = page.get("xml", "")
        text = html.unescape
        shown = {}
        notes = re.findall(r'<note id="([^"]*)"[^>]*title="([^"]*)"[^>]*>(.*?)</note>', xml, re.S)
        for widget, title, body in notes:
            shown[widget] = "<h2>%s</h2>%s" % (html.escape(text(title)), textile.textile(text(body)))
        for widget, name in re.findall(r'<list id="([^"]*)" name="([^"]*)"', xml):
            pattern = r'<item [^>]*list_id="%s" completed="(\w+)">(.*?)</item>' % re.escape(widget)
            items = "".join('<li><input type="checkbox" disabled%s> %s</li>'
                            % (" checked" if done == "true" else "", html.escape(text(item)))
                            for done, item in re.findall(pattern, xml, re.S))
            shown[widget] = '<h2>%s</h2><ul class="todo">%s</ul>' % (html.escape(text(name)), items)
        body = "".join(shown.get(w, "") for w in re.findall(r'<widget id="([^"]*)"', xml))
        title = html.escape(page.get("title", ""))
        self.reply(200, "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>%s</title><style>"
                        "body { font: 14px/1.5 sans-serif; color: #333; margin: 0 24px; }"
                        "#nav { font-size: 12px; padding: 8px 0; border-bottom: 1px solid #ddd; }"
                        "a { color: #36c; } h1 { font-size: 26px; margin: 12px 0; }"
                        "h2 { font-size: 17px; margin: 22px 0 6px; border-bottom: 1px solid #eee; }"
                        "h3 { font-size: 14px; margin: 10px 0 0; } p { margin: 2px 0 8px; }"
                        "ul.todo { list-style: none; padding: 0; } ul.todo input { margin-right: 6px; }"
                        "</style></head><body><div id=\"Main\">"
                        "<div id=\"nav\"><a id=\"away\" href=\"/login.html\">&laquo; All pages</a></div>"
                        "<h1 id=\"title\">%s</h1>%s</div>"
                        "<div id=\"Sidebar\">Sidebar</div></body></html>" % (title, title, body),
                   content_type="text/html; charset=utf-8")

    def authenticate(self, body):
        s = site()
        form = dict(urllib.parse.parse_qsl(body.decode("utf-8")))
        if (form.get("product") == "backpack" and form.get("subdomain") == s.get("sitename")
                and form.get("username") == s.get("username") and form.get("password") == s.get("password")):
            host = self.headers.get("Host", "").split(":")[0]
            domain = host.split(".", 1)[1] if host.count(".") >= 2 else host
            return self.reply(200, "signed in", content_type="text/plain",
                              headers=[("Set-Cookie", "bp_session=ok; Domain=%s; Path=/; Secure" % domain)])
        return self.reply(401, "no", content_type="text/plain", headers={"Status": "401 Unauthorized"})

    def asset(self, asset_id, name):
        if "bp_session=ok" not in (self.headers.get("Cookie") or ""):
            return self.reply(302, "", headers={"Location": "/login.html"})
        entry = site().get("assets", {}).get("%s/%s" % (asset_id, name))
        if entry is None:
            return self.reply(404, "missing asset", content_type="text/plain")
        data = base64.b64decode(entry["base64"]) if "base64" in entry else entry.get("text", "").encode()
        headers = {}
        if "filename" in entry:
            headers["Content-Disposition"] = 'attachment; filename="%s"' % entry["filename"]
        self.reply(200, data, headers=headers, content_type="application/octet-stream")


def setup(server):
    args = server.args
    if "--site" in args:
        with open(args[args.index("--site") + 1], encoding="utf-8") as f:
            STATE["site"] = json.load(f)


if __name__ == "__main__":
    tlsfake.serve(Handler, setup=setup)
