#!/usr/bin/env python3
"""A local HTTPS server for the fetch tests: prints its port, then serves until killed.

usage: https_server.py CERT KEY
"""
import http.server
import json
import ssl
import sys
import time

GOOD = json.dumps({"title": "Local", "rules": [{"description": "caps", "manipulators": [
    {"type": "basic", "from": {"key_code": "caps_lock"}, "to": [{"key_code": "escape"}]}]}]}, indent=2)
BIG = '{"title": "' + "x" * (6 * 1024 * 1024) + '", "rules": []}'
GROUPS = json.dumps({"index": [{"name": "Modifier Keys", "id": "modifier-keys", "files": [{"path": "json/good.json"}]}]}, indent=2)


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def handle(self):
        try:
            super().handle()
        except (ConnectionError, OSError):
            pass  # the client hung up on purpose: too large, too slow

    def send(self, status, body="", headers=(), length=True):
        data = body.encode()
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if length:
            self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def redirect(self, location):
        self.send(302, "", [("Location", location)])

    def do_GET(self):
        path = self.path
        port = self.server.server_address[1]
        if path == "/good.json":
            self.send(200, GOOD, [("Content-Type", "application/json")])
        elif path == "/groups.json":
            self.send(200, GROUPS, [("Content-Type", "application/json")])
        elif path == "/not-rules.json":
            self.send(200, '{"profiles": []}')
        elif path == "/big.json":
            self.send(200, BIG)
        elif path == "/big-unannounced.json":
            self.send(200, BIG, length=False)  # no length: read until the connection closes
        elif path == "/slow.json":
            time.sleep(30)
            self.send(200, GOOD)
        elif path == "/loop":
            self.redirect("/loop")
        elif path.startswith("/chain/"):
            n = int(path[len("/chain/"):])
            self.redirect("/chain/%d" % (n - 1) if n > 1 else "/good.json")  # n redirects
        elif path == "/to-http":
            self.redirect("http://127.0.0.1:%d/good.json" % port)
        else:
            self.send(404, "not here")


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[1], sys.argv[2])
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
