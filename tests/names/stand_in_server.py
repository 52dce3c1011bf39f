#!/usr/bin/python3
"""A stand-in web service for tests: serves the files of one folder by path, on 127.0.0.1.

    stand_in_server.py ROOT [--log FILE] [--min-interval SECONDS] [--agent PREFIX]

Prints "PORT <n>" on its first line of standard output once it listens (port 0 is asked for,
so the system picks a free one); runs until killed.

What it answers:
- GET /a/b/c: the file ROOT/a/b/c (the query is ignored), 200 with Content-Type
  application/json; 404 with a JSON error body when there is no such file.
- Every request is logged as one line in FILE: "<seconds since start> <status> <path>?<query>
  UA=<user agent>". A rule it refuses to serve is logged on a line of its own starting with
  "BROKEN" (the test asserts there is none).

Rules it checks (the web service's own):
- --agent PREFIX: a User-Agent that does not start with PREFIX is answered 403 (BROKEN agent).
- --min-interval S: a request that arrives less than S seconds after the previous one is
  answered 503, as the real service does (BROKEN rate).

Faults, injected by a first path segment starting with "_" (which is then dropped from the
path) or by a query parameter fault=<mode>:
- _503once: the first request for the rest of the path is answered 503 (Retry-After: 1),
  the next ones as usual.
- _503always: every request is answered 503.
- _status<NNN>: answered with status NNN and a short JSON body.
- _hang: the request is read and never answered (the connection stays open).
- _huge: 200 and 6 MiB of "x" without a Content-Length (the connection is closed at its end).
- _hugedeclared: the same with a Content-Length.
"""
import argparse
import http.server
import os
import sys
import threading
import time
import urllib.parse

parser = argparse.ArgumentParser()
parser.add_argument("root")
parser.add_argument("--log", default=os.devnull)
parser.add_argument("--min-interval", type=float, default=0.0)
parser.add_argument("--agent", default="")
args = parser.parse_args()

START = time.monotonic()
LOCK = threading.Lock()
LAST_ARRIVAL = [None]
SEEN_503ONCE = set()
HUGE = 6 * 1024 * 1024


def log(line):
    with LOCK:
        with open(args.log, "a", encoding="utf-8") as f:
            f.write(line + "\n")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *a):  # the log file is the record; standard error stays quiet
        pass

    def answer(self, status, body, extra=None, length=True):
        data = body if isinstance(body, bytes) else body.encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        if length:
            self.send_header("Content-Length", str(len(data)))
        else:
            self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
        self.wfile.flush()

    def do_GET(self):
        now = time.monotonic()
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        agent = self.headers.get("User-Agent", "")
        parts = [p for p in url.path.split("/") if p]
        fault = query.get("fault", [""])[0]
        if parts and parts[0].startswith("_"):
            fault = parts[0][1:]
            parts = parts[1:]
        rest = "/".join(parts)

        def record(status):
            log("%.3f %d %s?%s UA=%s" % (now - START, status, url.path, url.query, agent))

        with LOCK:
            previous = LAST_ARRIVAL[0]
            LAST_ARRIVAL[0] = now
        if args.agent and not agent.startswith(args.agent):
            log("BROKEN agent %r" % agent)
            record(403)
            return self.answer(403, '{"error": "a User-Agent naming the program is required"}')
        if args.min_interval > 0 and previous is not None and now - previous < args.min_interval:
            log("BROKEN rate %.3f s after the previous request" % (now - previous))
            record(503)
            return self.answer(503, '{"error": "rate limit exceeded"}')

        if fault == "503always" or (fault == "503once" and rest not in SEEN_503ONCE):
            SEEN_503ONCE.add(rest)
            record(503)
            return self.answer(503, '{"error": "busy"}', {"Retry-After": "1"})
        if fault.startswith("status") and fault[6:].isdigit():
            record(int(fault[6:]))
            return self.answer(int(fault[6:]), '{"error": "injected"}')
        if fault == "hang":
            record(0)
            while True:
                time.sleep(3600)
        if fault in ("huge", "hugedeclared"):
            record(200)
            return self.answer(200, b"x" * HUGE, length=fault == "hugedeclared")

        path = os.path.realpath(os.path.join(args.root, rest))
        root = os.path.realpath(args.root)
        if not path.startswith(root + os.sep) or not os.path.isfile(path):
            record(404)
            return self.answer(404, '{"error": "Not Found"}')
        with open(path, "rb") as f:
            body = f.read()
        record(200)
        return self.answer(200, body)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that hangs up early (a capped body, a cancel) is a case under test, not news.
        if not isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            super().handle_error(request, client_address)


server = Server(("127.0.0.1", 0), Handler)
sys.stdout.write("PORT %d\n" % server.server_address[1])
sys.stdout.flush()
server.serve_forever()
