"""Loopback stand-in for the device's web server.

Usage: http_server.py DIR USER PASSWORD
Serves GET requests that carry the right HTTP Basic credentials from files in DIR: the body of
"/norv-cgi/<name>?<query>" is DIR/<name> (404 when missing); DIR/<name>.status overrides the
status code. Wrong credentials get 401 with a body. Every request is appended to
DIR/requests.log as one line: the path, user and password, each hex-encoded, space-separated.
Prints the port on standard output once listening.
"""
import base64
import http.server
import os
import sys

root, user, password = sys.argv[1], sys.argv[2].encode(), sys.argv[3].encode()


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        got_user, got_pass = b"", b""
        auth = self.headers.get("Authorization", "")
        if auth.startswith("Basic "):
            got_user, _, got_pass = base64.b64decode(auth[6:]).partition(b":")
        with open(os.path.join(root, "requests.log"), "a") as log:
            log.write(" ".join(x.hex() or "-" for x in (self.path.encode(), got_user, got_pass)) + "\n")
        if (got_user, got_pass) != (user, password):
            return self.answer(401, b"401 Unauthorized\n")
        name = self.path.split("?")[0].rsplit("/", 1)[-1]
        body_file = os.path.join(root, name)
        if not name or not os.path.isfile(body_file):
            return self.answer(404, b"404 Not Found\n")
        status = 200
        if os.path.isfile(body_file + ".status"):
            status = int(open(body_file + ".status").read())
        self.answer(status, open(body_file, "rb").read())

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
