#!/usr/bin/env python3
# How long each client takes to a clear failure on hosts that misbehave the
# way real networks do: package_fetch (one attempt as the updater makes it),
# curl and aria2c with their default options, all against the same hosts on
# 127.0.0.1, run side by side (they mostly wait) and each cut at CAP seconds.
#   bench/misbehaving_hosts.py [BUILD_DIR] [--cap SECONDS]
# The hosts:
#   silent        reads the request, then sends nothing
#   drip_headers  sends the response head one byte every 0.4 s
#   drip_body     sends the head at once, then one body byte every 0.4 s
#   html_page     answers everything with 200 and a login page
# Prints a table: per host and client, the time, the exit status and what
# was left on disk (nothing, a partial file, or a file that is not the package).
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

DRIP_S = 0.4
PACKAGE = bytes((i * 7 + i // 251) & 0xFF for i in range(256 * 1024))
LOGIN_PAGE = (b"<!DOCTYPE html><html><head><title>Sign in</title></head><body><form action=\"/login\">"
              b"<input name=\"room\"></form></body></html>")


class Host:
    """One misbehaving host on a free port of 127.0.0.1."""

    def __init__(self, kind):
        self.kind = kind
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.stopping = threading.Event()
        threading.Thread(target=self.accept_loop, daemon=True).start()

    def url(self):
        return f"http://127.0.0.1:{self.port}/files/package.bin"

    def stop(self):
        self.stopping.set()
        self.listener.close()

    def accept_loop(self):
        while not self.stopping.is_set():
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self.serve, args=(conn,), daemon=True).start()

    def drip(self, conn, data):
        for i in range(len(data)):
            if self.stopping.wait(DRIP_S):
                return False
            conn.sendall(data[i:i + 1])
        return True

    def serve(self, conn):
        try:
            with conn:
                buffer = b""
                while not self.stopping.is_set():
                    while b"\r\n\r\n" not in buffer:
                        chunk = conn.recv(4096)
                        if not chunk:
                            return
                        buffer += chunk
                    head, buffer = buffer.split(b"\r\n\r\n", 1)
                    if not self.answer(conn, head.decode("latin-1")):
                        return
        except OSError:
            pass

    def answer(self, conn, head):
        if self.kind == "silent":
            self.stopping.wait()
            return False
        if self.kind == "html_page":
            conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
                         str(len(LOGIN_PAGE)).encode() + b"\r\n\r\n" + LOGIN_PAGE)
            return True
        first, last, status, extra = 0, len(PACKAGE) - 1, "200 OK", ""
        for line in head.split("\r\n")[1:]:
            name, _, value = line.partition(":")
            value = value.strip()
            if name.strip().lower() == "range" and value.startswith("bytes="):
                start, _, end = value[6:].partition("-")
                first = int(start)
                last = min(last, int(end)) if end else last
                status = "206 Partial Content"
                extra = f"Content-Range: bytes {first}-{last}/{len(PACKAGE)}\r\n"
        part = PACKAGE[first:last + 1]
        response = (f"HTTP/1.1 {status}\r\nContent-Type: application/octet-stream\r\nAccept-Ranges: bytes\r\n"
                    f"ETag: \"bench\"\r\n{extra}Content-Length: {len(part)}\r\n\r\n").encode()
        if self.kind == "drip_headers":
            self.drip(conn, response)
            return False
        conn.sendall(response)
        if head.startswith("HEAD "):
            return True
        return self.drip(conn, part)


def clients(build_dir, url, target):
    return {
        "package_fetch": [os.path.join(build_dir, "package_fetch"), url, target],
        "curl": ["curl", "-sS", "-o", target, url],
        "aria2c": ["aria2c", "-q", "-d", os.path.dirname(target), "-o", os.path.basename(target), url],
    }


def left_on_disk(path):
    if not os.path.exists(path):
        return "nothing"
    data = open(path, "rb").read()
    if data == PACKAGE:
        return "the package"
    if data and PACKAGE.startswith(data):
        return f"a partial file ({len(data)} B)"
    return f"a file that is not the package ({len(data)} B)"


def run_one(command, cap, env, result):
    started = time.monotonic()
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env)
    try:
        _, err = proc.communicate(timeout=cap)
        result["status"] = proc.returncode
        result["said"] = err.decode(errors="replace").strip().splitlines()[-1:] or [""]
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        result["status"] = None
    result["seconds"] = time.monotonic() - started


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build_dir", nargs="?", default="build")
    parser.add_argument("--cap", type=float, default=400.0, help="seconds after which a client is stopped")
    options = parser.parse_args()
    for tool in ("curl", "aria2c", os.path.join(options.build_dir, "package_fetch")):
        if not shutil.which(tool):
            print(f"misbehaving_hosts: {tool} is missing", file=sys.stderr)
            return 2
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    work = tempfile.mkdtemp(prefix="tamsa-bench-hosts-")
    kinds = ("silent", "drip_headers", "drip_body", "html_page")
    hosts, runs, threads = [], [], []
    try:
        for kind in kinds:
            for name in ("package_fetch", "curl", "aria2c"):
                # A host of its own for each client, so that none waits behind another.
                host = Host(kind)
                hosts.append(host)
                target = os.path.join(work, f"{kind}-{name}", "package.bin")
                os.makedirs(os.path.dirname(target))
                result = {"kind": kind, "client": name, "target": target}
                runs.append(result)
                command = clients(options.build_dir, host.url(), target)[name]
                threads.append(threading.Thread(target=run_one, args=(command, options.cap, env, result)))
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        print(f"| host | client | time | exit | left on disk | last line |")
        print("|---|---|---|---|---|---|")
        for r in runs:
            status = "still running (stopped)" if r["status"] is None else str(r["status"])
            print(f"| {r['kind']} | {r['client']} | {r['seconds']:.1f} s | {status} | {left_on_disk(r['target'])} "
                  f"| {(r.get('said') or [''])[0][:90]} |")
    finally:
        for host in hosts:
            host.stop()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
