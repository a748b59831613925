#!/usr/bin/env python3
"""A hall of fame's board in miniature, for the Windows program's HTTP under
Wine (scripts/test-windows.sh): a challenge, a run taken as run 1 and found
verified and live at its first poll. Listens on 127.0.0.1 at a port of its
own, written to PORT_FILE; each request's method and path go to LOG_FILE.
Ends by itself after five minutes.

Usage: scripted_board.py PORT_FILE LOG_FILE
"""
import http.server
import json
import sys
import threading

port_file, log_file = sys.argv[1], sys.argv[2]


class Board(http.server.BaseHTTPRequestHandler):
    def answer(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def note(self, extra=""):
        with open(log_file, "a") as log:
            log.write(f"{self.command} {self.path}{extra}\n")

    def do_POST(self):
        size = int(self.headers.get("Content-Length", 0))
        body = self.rfile.read(size)
        self.note(f" {len(body)} bytes")
        if self.path == "/challenges":
            self.answer(201, {"counter": 4000000000, "issued": "2026-12-08T09:00:00Z",
                              "expires": "2026-12-08T11:00:00Z", "now": "2026-12-08T09:00:00Z"})
        elif self.path.startswith("/runs?initials=") and body.startswith(b"VNKRUN"):
            self.answer(202, {"id": 1, "status": "waiting"})
        else:
            self.answer(400, {"error": "not a run"})

    def do_GET(self):
        self.note()
        if self.path == "/runs/1":
            self.answer(200, {"id": 1, "status": "verified", "ranked": True, "total": 122,
                              "board": "live"})
        elif self.path.startswith("/board.json"):
            self.answer(200, {"live": [{"rank": 1, "id": 1}], "replay_verified": []})
        else:
            self.answer(404, {"error": "no such page"})

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Board)
with open(port_file, "w") as out:
    out.write(str(server.server_address[1]))
threading.Timer(300, server.shutdown).start()
server.serve_forever()
