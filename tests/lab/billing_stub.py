#!/usr/bin/env python3
"""A local HTTPS billing server for the tests and the demo service (standard library only).

    billing_stub.py --port N --cert server.pem --key server.key [--credit 12.50] [--currency EUR]
                    [--record FILE]

Listens on 127.0.0.1 only.

  GET /callshop/getBalance.php?login=..&pwd=..
        answers "<cradit>CREDIT</cradit><currency>CURRENCY</currency>", preceded by the
        current padding, and remembers the decoded query.
  GET /last-query
        the last balance query as JSON: {"path": ..., "query": <raw query string>,
        "login": [...], "pwd": [...]} (each key's values after percent-decoding); {} before any.
  GET /set?credit=..&currency=..&pad=N
        changes the answer of later balance queries (pad: N bytes of "x" before the tags).
  GET /stall
        never answers (until the server stops): for time-out tests.

With --stall the balance queries themselves are never answered (a billing server that hangs).

With --record FILE the last balance query is also written to FILE (same JSON), so a test can
read it without another request.
"""

import argparse
import json
import os
import signal
import ssl
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class State:
    def __init__(self, credit, currency, record):
        self.lock = threading.Lock()
        self.credit = credit
        self.currency = currency
        self.pad = 0
        self.last = {}
        self.record = record
        self.stopping = threading.Event()

    def remember(self, path, query):
        parsed = urllib.parse.parse_qs(query, keep_blank_values=True)
        last = {
            "path": path,
            "query": query,
            "login": parsed.get("login", []),
            "pwd": parsed.get("pwd", []),
        }
        with self.lock:
            self.last = last
            if self.record:
                tmp = self.record + ".tmp"
                with open(tmp, "w", encoding="utf-8") as f:
                    json.dump(last, f)
                os.replace(tmp, self.record)


class Handler(BaseHTTPRequestHandler):
    server_version = "BillingStub/1.0"
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        sys.stdout.write("%s %s\n" % (self.address_string(), fmt % args))
        sys.stdout.flush()

    def send_body(self, body, content_type="text/html"):
        data = body.encode("utf-8") if isinstance(body, str) else body
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        try:
            self.wfile.write(data)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            # The client stops reading once it has what it wants.
            pass

    def do_GET(self):
        state = self.server.state
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/callshop/getBalance.php":
            state.remember(url.path, url.query)
            if self.server.stall:
                state.stopping.wait(600)
                self.close_connection = True
                return
            with state.lock:
                body = ("x" * state.pad + "<cradit>" + state.credit + "</cradit><currency>"
                        + state.currency + "</currency>")
            self.send_body(body)
        elif url.path == "/last-query":
            with state.lock:
                body = json.dumps(state.last)
            self.send_body(body, "application/json")
        elif url.path == "/set":
            params = urllib.parse.parse_qs(url.query, keep_blank_values=True)
            with state.lock:
                if "credit" in params:
                    state.credit = params["credit"][0]
                if "currency" in params:
                    state.currency = params["currency"][0]
                if "pad" in params:
                    state.pad = int(params["pad"][0])
            self.send_body("ok\n", "text/plain")
        elif url.path == "/stall":
            state.stopping.wait(600)
            self.close_connection = True
        else:
            self.send_error(404)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, context, state, stall=False):
        super().__init__(address, Handler)
        self.context = context
        self.state = state
        self.stall = stall

    def finish_request(self, request, client_address):
        # The TLS handshake runs in the connection's own thread, so a client that connects and
        # stays silent cannot hold up everyone else.
        try:
            request.settimeout(30)
            tls = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as e:
            sys.stdout.write("%s TLS handshake failed: %s\n" % (client_address[0], e))
            sys.stdout.flush()
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            try:
                tls.close()
            except OSError:
                pass

    def handle_error(self, request, client_address):
        sys.stdout.write("%s connection error: %s\n" % (client_address[0], sys.exc_info()[1]))
        sys.stdout.flush()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--cert", required=True)
    ap.add_argument("--key", required=True)
    ap.add_argument("--credit", default="12.50")
    ap.add_argument("--currency", default="EUR")
    ap.add_argument("--record", default="")
    ap.add_argument("--stall", action="store_true")
    args = ap.parse_args()

    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)

    state = State(args.credit, args.currency, args.record)
    server = Server(("127.0.0.1", args.port), context, state, args.stall)

    def stop(signum, frame):
        state.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print("billing stub listening on 127.0.0.1:%d" % server.server_address[1], flush=True)
    server.serve_forever(poll_interval=0.2)
    server.server_close()


if __name__ == "__main__":
    main()
