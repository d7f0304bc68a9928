"""Checks OAuth 1.0 HMAC-SHA1 signatures made by the C++ signer.

Reads a JSON list of requests (method, uri, headers, body, client_secret,
token_secret) on stdin and prints one line per request: "ok" or "bad <why>".
"""
import json
import sys

from oauthlib.oauth1 import RequestValidator, SignatureOnlyEndpoint


class AcceptingValidator(RequestValidator):
    """Accepts every key and nonce; only the signature is judged."""

    def __init__(self, client_secret, token_secret):
        super().__init__()
        self._client_secret = client_secret
        self._token_secret = token_secret

    enforce_ssl = False

    def check_client_key(self, client_key):
        return True

    def check_nonce(self, nonce):
        return True

    def validate_client_key(self, client_key, request):
        return True

    def validate_timestamp_and_nonce(self, client_key, timestamp, nonce, request,
                                     request_token=None, access_token=None):
        return True

    def get_client_secret(self, client_key, request):
        return self._client_secret

    def get_access_token_secret(self, client_key, token, request):
        return self._token_secret


def main():
    for case in json.load(sys.stdin):
        endpoint = SignatureOnlyEndpoint(
            AcceptingValidator(case["client_secret"], case["token_secret"]))
        try:
            valid, request = endpoint.validate_request(
                case["uri"], http_method=case["method"],
                body=case["body"] or None, headers=case["headers"])
        except Exception as error:  # a malformed request is a failure too
            print("bad", type(error).__name__, str(error).replace("\n", " "))
            continue
        print("ok" if valid else "bad signature")


if __name__ == "__main__":
    main()
