#!/usr/bin/env python3
"""An HTTPS host on 127.0.0.1 for the Windows test programs, which have no
TLS server of their own: it runs on the build machine, and the programs
reach it through Schannel under Wine.

  https_host.py start FOLDER   makes a throw-away self-signed certificate,
                               starts the host in the background and writes
                               its address (127.0.0.1:port) to FOLDER/address
  https_host.py stop FOLDER    stops it

The host answers GET /secure with "over tls" and anything else with 404. It
ends by itself after ten idle minutes, should nobody stop it.
"""
import http.server
import os
import signal
import socketserver
import ssl
import subprocess
import sys
import time

IDLE_LIMIT_SECONDS = 600


class handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        body = b"over tls" if self.path == "/secure" else b"not found"
        self.send_response(200 if self.path == "/secure" else 404)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        pass


class server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    # A client that stops in the middle of the handshake must not hold up
    # the host: the handshake happens in the request's own thread.
    timeout = IDLE_LIMIT_SECONDS


def serve(folder):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem"))
    host = server(("127.0.0.1", 0), handler)
    host.socket = context.wrap_socket(host.socket, server_side=True, do_handshake_on_connect=False)
    # The address file appears whole, never half-written.
    address = "127.0.0.1:%d" % host.server_address[1]
    with open(os.path.join(folder, "address.part"), "w") as out:
        out.write(address)
    os.replace(os.path.join(folder, "address.part"), os.path.join(folder, "address"))
    host.handle_timeout = lambda: sys.exit(0)
    while True:
        host.handle_request()


def read_pid(folder):
    try:
        with open(os.path.join(folder, "pid")) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def stop(folder):
    pid = read_pid(folder)
    if pid is not None:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    for name in ("pid", "address"):
        try:
            os.remove(os.path.join(folder, name))
        except FileNotFoundError:
            pass
    return 0


def start(folder):
    os.makedirs(folder, exist_ok=True)
    stop(folder)
    made = subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=tamsa.test",
         "-keyout", os.path.join(folder, "key.pem"), "-out", os.path.join(folder, "cert.pem")],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if made.returncode != 0:
        print("https_host: openssl failed: " + made.stderr.decode(errors="replace"), file=sys.stderr)
        return 1
    # The host outlives this command: its own session, no inherited output
    # (ctest waits for the pipes of the test to close).
    with open(os.devnull, "r+b") as null:
        child = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", folder],
                                 stdin=null, stdout=null, stderr=null, start_new_session=True)
    with open(os.path.join(folder, "pid"), "w") as out:
        out.write(str(child.pid))
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if os.path.exists(os.path.join(folder, "address")):
            return 0
        if child.poll() is not None:
            break
        time.sleep(0.05)
    print("https_host: the host did not start", file=sys.stderr)
    stop(folder)
    return 1


def main():
    if len(sys.argv) != 3 or sys.argv[1] not in ("start", "stop", "serve"):
        print("usage: https_host.py start|stop FOLDER", file=sys.stderr)
        return 2
    command, folder = sys.argv[1], sys.argv[2]
    if command == "serve":
        serve(folder)
        return 0
    return start(folder) if command == "start" else stop(folder)


if __name__ == "__main__":
    sys.exit(main())
