#!/usr/bin/env python3
# The Windows package_fetch.exe under Wine against hosts on 127.0.0.1 that
# stall, drip or answer with a web page (the hosts of
# bench/misbehaving_hosts.py): each attempt fails by itself, within its
# bound with room, says why, and leaves no package behind.
#   misbehaving_hosts_wine.py PACKAGE_FETCH_EXE
# Wine's loader is $TAMSA_WINE (default: wine), with the caller's prefix.
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
from misbehaving_hosts import Host  # noqa: E402

# host kind: (at least, at most) seconds to the failure, and words of its
# log line. The bounds are those of the download (no byte for 30 s, under
# 1 KiB/s over 60 s) with room for a busy machine, never tight timings.
CASES = {
    "silent": (25, 75, "stalled"),
    "drip_headers": (25, 75, "stalled"),
    "drip_body": (55, 110, "stalled"),
    "html_page": (0, 30, "web page"),
}
CAP_S = 150


def run(exe, kind, work, result):
    host = Host(kind)
    # A name per case: the download file beside the program takes the
    # package's name, and the cases run side by side.
    target = os.path.join(work, kind, kind + ".bin")
    os.makedirs(os.path.dirname(target))
    env = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
    env["WINEDEBUG"] = "-all,+debugstr"
    loader = os.environ.get("TAMSA_WINE", "wine")
    started = time.monotonic()
    proc = subprocess.Popen([loader, exe, host.url(), target, "0" * 32], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, env=env, cwd=os.path.dirname(target))
    try:
        out, _ = proc.communicate(timeout=CAP_S)
        result["status"] = proc.returncode
    except subprocess.TimeoutExpired:
        proc.kill()
        out, _ = proc.communicate()
        result["status"] = None
    finally:
        host.stop()
    result["seconds"] = time.monotonic() - started
    result["said"] = out.decode(errors="replace")
    result["left"] = os.path.exists(target) and os.path.getsize(target) > 0


def main():
    if len(sys.argv) != 2:
        print("usage: misbehaving_hosts_wine.py PACKAGE_FETCH_EXE", file=sys.stderr)
        return 2
    exe = os.path.abspath(sys.argv[1])
    results = {kind: {} for kind in CASES}
    with tempfile.TemporaryDirectory(prefix="tamsa-wine-hosts-") as work:
        threads = [threading.Thread(target=run, args=(exe, kind, work, results[kind])) for kind in CASES]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
    failed = 0
    for kind, (least, most, words) in CASES.items():
        r = results[kind]
        problems = []
        if r["status"] is None:
            problems.append(f"still running after {CAP_S} s")
        elif r["status"] == 0:
            problems.append("reported success")
        if not least <= r["seconds"] <= most:
            problems.append(f"took {r['seconds']:.1f} s, not {least} to {most} s")
        if words not in r["said"]:
            problems.append(f"no log line with \"{words}\"")
        if r["left"]:
            problems.append("a file was left at the package's name")
        if problems:
            failed += 1
            print(f"misbehaving hosts under Wine: {kind}: FAILED: {'; '.join(problems)}\n{r['said'][-1500:]}",
                  file=sys.stderr)
        else:
            print(f"misbehaving hosts under Wine: {kind}: failed as it should in {r['seconds']:.1f} s")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
