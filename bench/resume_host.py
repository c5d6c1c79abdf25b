#!/usr/bin/env python3
"""A package host on 127.0.0.1 for the resume benchmark.

Serves one file with an ETag and byte ranges (If-Range honoured) and
misbehaves on purpose:
  --mode drop    the first request for every segment is cut halfway
  --mode change  the same, and once every range has been cut the host
                 serves --next-file instead, with a new ETag
Writes its port to --port-file and, after every response, the body bytes
sent so far to --count-file.
"""
import argparse
import http.server
import os
import threading

BLOCK = 64 * 1024


class state:
    lock = threading.Lock()
    path = ""
    etag = ""
    next_path = ""
    mode = "drop"
    ranges_seen = set()
    cut = 0
    sent = 0
    count_file = ""


def etag_of(path):
    info = os.stat(path)
    return '"%x-%x"' % (int(info.st_mtime_ns), info.st_size)


def parse_range(header, size):
    if not header or not header.startswith("bytes="):
        return None
    first, _, last = header[6:].partition("-")
    try:
        first, last = int(first), int(last)
    except ValueError:
        return None
    if first < 0 or last < first or last >= size:
        return None
    return first, last


class handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        with state.lock:
            path, etag = state.path, state.etag
        size = os.path.getsize(path)
        header = self.headers.get("Range")
        if_range = self.headers.get("If-Range")
        wanted = parse_range(header, size)
        if wanted and if_range and if_range != etag:
            wanted = None  # the file has changed: the whole of it
        cut = False
        if wanted:
            # A segment is known by its last byte: a resumed request keeps it.
            with state.lock:
                cut = wanted[1] not in state.ranges_seen
                state.ranges_seen.add(wanted[1])
        first, last = wanted if wanted else (0, size - 1)
        length = last - first + 1
        self.send_response(206 if wanted else 200)
        self.send_header("ETag", etag)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(length))
        if wanted:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, size))
        self.end_headers()
        self.send_body(path, first, length // 2 if cut else length)
        if cut:
            self.close_connection = True
            with state.lock:
                state.cut += 1
                if state.mode == "change" and state.cut == 4:
                    state.path = state.next_path
                    state.etag = etag_of(state.next_path)

    def send_body(self, path, first, length):
        try:
            with open(path, "rb") as f:
                f.seek(first)
                while length > 0:
                    block = f.read(min(BLOCK, length))
                    if not block:
                        break
                    self.wfile.write(block)
                    length -= len(block)
                    with state.lock:
                        state.sent += len(block)
        except (BrokenPipeError, ConnectionResetError):
            pass
        with state.lock:
            with open(state.count_file, "w") as out:
                out.write("%d\n" % state.sent)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--file", required=True)
    parser.add_argument("--next-file", default="")
    parser.add_argument("--mode", choices=["drop", "change"], default="drop")
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--count-file", required=True)
    args = parser.parse_args()
    state.path, state.etag = args.file, etag_of(args.file)
    state.next_path, state.mode, state.count_file = args.next_file, args.mode, args.count_file
    with open(state.count_file, "w") as out:
        out.write("0\n")
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    with open(args.port_file, "w") as out:
        out.write("%d\n" % server.server_address[1])
    server.serve_forever()


if __name__ == "__main__":
    main()
