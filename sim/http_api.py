"""The device's web server on the loopback address: http_api.py DIR [PORT]

Answers GET requests carrying the HTTP Basic credentials of DIR/user and DIR/password (else 401
with a body) with DIR/body/<name> for "/norv-cgi/<name>?<query>", its status taken from
DIR/body/<name>.status; 404 for a path outside "/norv-cgi/" or a missing body. Appends each
request's path, user and password to DIR/requests.log, each ended by a NUL byte. While
DIR/delay holds a number, every answer waits that many seconds (a slow web server). Listens on
PORT (by default one the system picks) and prints its process id and port once listening.
"""
import base64
import http.server
import os
import sys
import time

PREFIX = "/norv-cgi/"
root = sys.argv[1]
credentials = [open(os.path.join(root, name), "rb").read() for name in ("user", "password")]


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        auth = self.headers.get("Authorization", "Basic ")
        got = base64.b64decode(auth[6:]).partition(b":")[::2]
        with open(os.path.join(root, "requests.log"), "ab") as log:
            log.write(b"".join(x + b"\0" for x in (self.path.encode(), *got)))
        path = self.path.split("?")[0]
        name = path[len(PREFIX):] if path.startswith(PREFIX) else ""
        body = os.path.join(root, "body", name)
        try:
            time.sleep(float(open(os.path.join(root, "delay")).read()))
        except (OSError, ValueError):
            pass
        if list(got) != credentials:
            self.answer(401, b"401 Unauthorized\n")
        elif not os.path.isfile(body):
            self.answer(404, b"404 Not Found\n")
        else:
            self.answer(int(open(body + ".status").read()), open(body, "rb").read())

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


port = int(sys.argv[2]) if len(sys.argv) > 2 else 0
server = http.server.HTTPServer(("127.0.0.1", port), Handler)
print(os.getpid(), server.server_address[1], flush=True)
server.serve_forever()
