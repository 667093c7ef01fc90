#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""An https server for the discovery tests: serves a few paths on several loopback addresses, each with its own
certificate.

Usage: web_server.py SITES.json LOG

SITES is [{"address": "127.0.0.10", "port": 443, "cert": PEM, "key": PEM, "paths": {"/path": ANSWER}}], where an
ANSWER is {"file": PATH} (200 with the file, as text/xml) or {"location": URL} (302 to it). Any other path answers
404. Each request is appended to LOG as "address host path?query". Prints "ready" once every site listens.
"""
import http.server
import json
import ssl
import sys
import threading


class Server(http.server.ThreadingHTTPServer):
    def handle_error(self, request, client_address):
        pass  # a client that refuses the certificate ends its handshake: that is what some stories want


def handler_for(site, log, lock):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def do_GET(self):
            with lock:
                log.write("%s %s %s\n" % (site["address"], self.headers.get("Host", ""), self.path))
            path = self.path.split("?", 1)[0]
            answer = site["paths"].get(path)
            if answer is None:
                self.send_response(404)
                self.send_header("Content-Length", "0")
                self.end_headers()
            elif "location" in answer:
                self.send_response(302)
                self.send_header("Location", answer["location"])
                self.send_header("Content-Length", "0")
                self.end_headers()
            else:
                with open(answer["file"], "rb") as f:
                    body = f.read()
                self.send_response(200)
                self.send_header("Content-Type", "text/xml")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

    return Handler


def main():
    with open(sys.argv[1]) as f:
        sites = json.load(f)
    log = open(sys.argv[2], "a", buffering=1)
    lock = threading.Lock()
    servers = []
    for site in sites:
        server = Server((site["address"], site["port"]), handler_for(site, log, lock))
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(site["cert"], site["key"])
        server.socket = context.wrap_socket(server.socket, server_side=True)
        servers.append(server)
    print("ready", flush=True)
    threads = [threading.Thread(target=s.serve_forever, daemon=True) for s in servers]
    for t in threads:
        t.start()
    for t in threads:
        t.join()


if __name__ == "__main__":
    main()
