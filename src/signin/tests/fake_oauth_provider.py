#!/usr/bin/python3
"""A small OAuth 1.0 provider on 127.0.0.1 for the sign-in tests.

It serves HTTPS with the test's throwaway CA (--cert, --key, see tlsfake),
prints "PORT <n>" once it listens, and checks every signature with oauthlib:

  GET  /oauth                 request token (no oauth_verifier) or access token
  GET  /OAuth.action          the authorisation page for a request token
  POST /OAuth.action          the user approves: 302 to the callback with
                              oauth_token and oauth_verifier
  GET  /help                  a plain page (target of a new-window link)

Every request is appended as one JSON line to --log when given.

--fault selects a misbehaviour (may be repeated):
  request-401        the request-token endpoint answers 401 with a body
  access-401         the access-token endpoint answers 401 with a body
  request-no-token   the request-token reply carries no oauth_token
  access-no-token    the access-token reply carries no oauth_token
  access-no-store    the access-token reply carries no ruru_noteStoreUrl
  cookie             step 1 sets a cookie that step 3 must send back

--access-token and --note-store fix what the access-token reply gives (by
default a fresh token and a NoteStore address on the provider itself).
"""

import argparse
import html
import json
import secrets
import threading
import urllib.parse

import tlsfake

from oauthlib.oauth1.rfc5849 import errors, signature
from oauthlib.oauth1.rfc5849.endpoints.base import BaseEndpoint
from oauthlib.oauth1.rfc5849.request_validator import RequestValidator

NOTE_STORE_PATH = "/ruru/notestore"
COOKIE = "fakesession"


class Validator(RequestValidator):
    """Only the checks the base endpoint asks of a validator."""

    def __init__(self, consumer_key):
        super().__init__()
        self.consumer_key = consumer_key

    @property
    def allowed_signature_methods(self):
        return ("HMAC-SHA1",)

    @property
    def enforce_ssl(self):
        return True

    def check_client_key(self, client_key):
        return client_key == self.consumer_key

    def check_nonce(self, nonce):
        return 0 < len(nonce) <= 64 and all(c.isalnum() or c in "-._~" for c in nonce)


class Checker(BaseEndpoint):
    def parse(self, uri, method, headers):
        request = self._create_request(uri, method, "", headers)
        self._check_transport_security(request)
        self._check_mandatory_parameters(request)
        return request


class State:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.nonces = set()
        # request token -> {"secret", "callback", "verifier", "authorised"}
        self.request_tokens = {}
        self.checker = Checker(Validator(args.consumer_key))

    def log(self, entry):
        if not self.args.log:
            return
        with self.lock, open(self.args.log, "a", encoding="utf-8") as f:
            f.write(json.dumps(entry) + "\n")


class Handler(tlsfake.Handler):
    state = None  # set before serving

    # --- plumbing

    def reply(self, status, body="", headers=None, content_type="application/x-www-form-urlencoded"):
        super().reply(status, body, headers=headers, content_type=content_type)

    def full_uri(self):
        return "https://%s%s" % (self.headers.get("Host"), self.path)

    def has_fault(self, name):
        return name in (self.state.args.fault or [])

    def record(self, step, **extra):
        entry = {"step": step, "method": self.command, "path": self.path,
                 "authorization": self.headers.get("Authorization", ""),
                 "cookie": self.headers.get("Cookie", "")}
        entry.update(extra)
        self.state.log(entry)

    def verified_request(self, token_secret_for):
        """Parses and checks the signed request; returns it or answers 401."""
        try:
            request = self.state.checker.parse(self.full_uri(), self.command, dict(self.headers))
        except errors.OAuth1Error as e:
            self.reply(401, "oauth_problem=parameter_rejected&detail=" +
                       urllib.parse.quote(e.description or ""))
            return None
        with self.state.lock:
            replayed = (request.nonce, request.timestamp) in self.state.nonces
            self.state.nonces.add((request.nonce, request.timestamp))
        if replayed:
            self.reply(401, "oauth_problem=nonce_used")
            return None
        token_secret = token_secret_for(request)
        if token_secret is None:
            self.reply(401, "oauth_problem=token_rejected")
            return None
        if not signature.verify_hmac_sha1(request, self.state.args.consumer_secret, token_secret):
            self.reply(401, "oauth_problem=signature_invalid")
            return None
        return request

    # --- endpoints

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/oauth":
            query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
            if "oauth_verifier" in (self.headers.get("Authorization") or ""):
                self.access_token(query)
            else:
                self.request_token(query)
        elif url.path == "/OAuth.action":
            self.authorisation_page(dict(urllib.parse.parse_qsl(url.query)))
        elif url.path == "/help":
            self.record("help")
            self.reply(200, "<html><body><p>Help</p></body></html>", content_type="text/html")
        else:
            self.record("unknown")
            self.reply(404, "not found", content_type="text/plain")

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length).decode("utf-8")
        if urllib.parse.urlsplit(self.path).path == "/OAuth.action":
            self.approve(dict(urllib.parse.parse_qsl(body)))
        else:
            self.record("unknown")
            self.reply(404, "not found", content_type="text/plain")

    def request_token(self, query):
        if self.has_fault("request-401"):
            self.record("request", verified=False)
            self.reply(401, "oauth_problem=consumer_key_rejected")
            return
        request = self.verified_request(lambda r: "" if not r.resource_owner_key else None)
        self.record("request", verified=request is not None, query=query)
        if request is None:
            return
        if not request.redirect_uri or query.get("scope") != self.state.args.scope:
            self.reply(400, "oauth_problem=parameter_absent")
            return
        token, secret = "rt-" + secrets.token_hex(8), secrets.token_hex(8)
        with self.state.lock:
            self.state.request_tokens[token] = {"secret": secret,
                                                "callback": request.redirect_uri,
                                                "verifier": secrets.token_hex(6),
                                                "authorised": False}
        headers = []
        if self.has_fault("cookie"):
            headers.append(("Set-Cookie", "%s=%s; Path=/; Secure; HttpOnly" % (COOKIE, token)))
        if self.has_fault("request-no-token"):
            self.reply(200, "oauth_callback_confirmed=true", headers=headers)
            return
        self.reply(200, "oauth_token=%s&oauth_token_secret=%s&oauth_callback_confirmed=true"
                   % (token, secret), headers=headers)

    def authorisation_page(self, query):
        token = query.get("oauth_token", "")
        with self.state.lock:
            known = token in self.state.request_tokens
        self.record("authorise-page", known=known, query=query)
        if not known:
            self.reply(400, "<html><body>Unknown request token</body></html>", content_type="text/html")
            return
        page = """<!DOCTYPE html>
<html><head><title>Authorise Leafhaul</title></head>
<body style="font-family: sans-serif; margin: 2em">
<h1>Authorise access</h1>
<p>Leafhaul asks for <b>%(scope)s</b> to your notes.</p>
<form id="approve" method="post" action="/OAuth.action">
<input type="hidden" name="oauth_token" value="%(token)s">
<button id="authorise" type="submit">Authorise</button>
</form>
<p><a id="help" href="/help" target="_blank">Help (opens a new window)</a></p>
</body></html>""" % {"scope": html.escape(query.get("scope", "")), "token": html.escape(token)}
        self.reply(200, page, content_type="text/html; charset=utf-8")

    def approve(self, form):
        token = form.get("oauth_token", "")
        with self.state.lock:
            entry = self.state.request_tokens.get(token)
            if entry:
                entry["authorised"] = True
        self.record("approve", known=entry is not None)
        if entry is None:
            self.reply(400, "<html><body>Unknown request token</body></html>", content_type="text/html")
            return
        callback = entry["callback"]
        joiner = "&" if urllib.parse.urlsplit(callback).query else "?"
        location = callback + joiner + urllib.parse.urlencode(
            {"oauth_token": token, "oauth_verifier": entry["verifier"]})
        self.reply(302, headers=[("Location", location)], content_type=None)

    def access_token(self, query):
        if self.has_fault("access-401"):
            self.record("access", verified=False)
            self.reply(401, "oauth_problem=token_expired")
            return

        def secret_of(request):
            with self.state.lock:
                entry = self.state.request_tokens.get(request.resource_owner_key)
            return entry["secret"] if entry and entry["authorised"] else None

        request = self.verified_request(secret_of)
        self.record("access", verified=request is not None, query=query)
        if request is None:
            return
        with self.state.lock:
            entry = self.state.request_tokens.pop(request.resource_owner_key)
        if request.verifier != entry["verifier"]:
            self.reply(401, "oauth_problem=verifier_invalid")
            return
        if self.has_fault("cookie"):
            if "%s=%s" % (COOKIE, request.resource_owner_key) not in (self.headers.get("Cookie") or ""):
                self.reply(401, "oauth_problem=session_cookie_missing")
                return
        token, secret = self.state.args.access_token or "tok=1:user=1a2b:" + secrets.token_hex(8), ""
        store = self.state.args.note_store or "https://%s%s" % (self.headers.get("Host"), NOTE_STORE_PATH)
        pairs = []
        if not self.has_fault("access-no-token"):
            pairs.append(("oauth_token", token))
        pairs.append(("oauth_token_secret", secret))
        if not self.has_fault("access-no-store"):
            pairs.append(("ruru_noteStoreUrl", store))
        pairs.append(("ruru_userId", "161"))
        self.reply(200, "&".join("%s=%s" % (k, urllib.parse.quote(v, safe="")) for k, v in pairs))


def main():
    def setup(server):
        parser = argparse.ArgumentParser()
        parser.add_argument("--consumer-key", required=True)
        parser.add_argument("--consumer-secret", required=True)
        parser.add_argument("--scope", default="Full access")
        parser.add_argument("--log")
        parser.add_argument("--fault", action="append")
        parser.add_argument("--access-token", help="the token every access-token reply gives")
        parser.add_argument("--note-store", help="the ruru_noteStoreUrl every access-token reply gives")
        Handler.state = State(parser.parse_args(server.args))

    tlsfake.serve(Handler, setup=setup)


if __name__ == "__main__":
    main()
