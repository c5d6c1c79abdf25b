# The pieces an end-to-end run needs: a private X display with a window
# manager, the local update service with a sample release, the sample
# product, the updater itself, and the person at the keyboard (xdotool).
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

SCRIPT_DIR = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(os.path.dirname(SCRIPT_DIR))
# The sample product's name on the updater's command line (-prod), which a
# signed release names too. Without a blank: Wine quotes an argument with one
# whole ("-prod=Sample Product"), which the updater's command line reads as
# "-prod=Sample" followed by another word.
PRODUCT = "SampleProduct"


# libcurl's proxy variables.
PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY")


class TestFailure(Exception):
    pass


def wait_until(predicate, timeout, what, interval=0.05):
    """Polls predicate until it returns a true value; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TestFailure(f"timed out after {timeout:.1f} s waiting for {what}")
        time.sleep(interval)


def stop_process(proc, grace=2.0):
    """Ends a child we started: SIGTERM, then SIGKILL after grace seconds."""
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=5)


class Desktop:
    """A private Xvfb display (its number chosen by Xvfb) with openbox on it."""

    def __init__(self, work_dir, width=1280, height=800):
        self.work_dir = work_dir
        self.width = width
        self.height = height
        self.xvfb = None
        self.wm = None
        self.display = None

    def __enter__(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-nolisten", "tcp", "-screen", "0",
             f"{self.width}x{self.height}x24"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 10
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_fd)
        if not number.strip():
            raise TestFailure("Xvfb did not report a display number")
        self.display = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)
        # Runs go direct unless a case names a proxy.
        for name in PROXY_VARIABLES:
            self.env.pop(name, None)
        try:
            self._start_wm()
        except TestFailure:
            self.__exit__(None, None, None)  # not called for a failed __enter__
            raise
        return self

    def _start_wm(self, attempts=3):
        """Starts openbox; one that ends before it manages the display is
        started again, and its own words go into the failure."""
        log_path = os.path.join(self.work_dir, "openbox.log")
        for attempt in range(1, attempts + 1):
            with open(log_path, "w") as log:
                self.wm = subprocess.Popen(["openbox", "--sm-disable"], env=self.env,
                                           stdout=subprocess.DEVNULL, stderr=log)
            try:
                wait_until(lambda: self._wm_running() or self.wm.poll() is not None, 30,
                           "openbox to manage the display")
            except TestFailure:
                stop_process(self.wm)
                raise TestFailure(f"openbox did not manage the display within 30 s: {self._wm_log(log_path)}")
            if self._wm_running():
                return
            if attempt == attempts:
                raise TestFailure(f"openbox ended {attempts} times with status {self.wm.returncode}: "
                                  f"{self._wm_log(log_path)}")

    @staticmethod
    def _wm_log(path):
        with open(path, errors="replace") as log:
            return log.read().strip()[-500:] or "(it said nothing)"

    def _wm_running(self):
        out = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)
        return "window id" in out

    def __exit__(self, *exc):
        stop_process(self.wm)
        stop_process(self.xvfb)

    def run(self, args, check=True, timeout=10):
        try:
            done = subprocess.run(args, env=self.env, capture_output=True, text=True, timeout=timeout)
        except subprocess.TimeoutExpired:
            raise TestFailure(f"{' '.join(args)} did not end within {timeout} s")
        if check and done.returncode != 0:
            raise TestFailure(f"{' '.join(args)} failed: {done.stderr.strip()}")
        return done.stdout

    # What a person sees and does.
    def find_windows(self, class_name, visible=True):
        args = ["xdotool", "search"] + (["--onlyvisible"] if visible else []) + ["--class", class_name]
        out = self.run(args, check=False)
        return [int(w) for w in out.split()]

    def wait_window(self, class_name, timeout=20):
        return wait_until(lambda: (self.find_windows(class_name) or [None])[0], timeout,
                          f"a visible {class_name} window")

    def geometry(self, window):
        out = self.run(["xdotool", "getwindowgeometry", "--shell", str(window)])
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def active_window(self):
        out = self.run(["xdotool", "getactivewindow"], check=False).strip()
        return int(out) if out.isdigit() else 0

    def click(self, window, x, y):
        """Clicks at client coordinates of a window, as a person with a mouse."""
        self.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y)])
        time.sleep(0.05)
        self.run(["xdotool", "click", "1"])

    def double_click(self, window, x, y):
        """Two clicks in one xdotool call, so a busy machine cannot stretch them
        apart beyond the double-click time."""
        self.run(["xdotool", "mousemove", "--window", str(window), str(x), str(y)])
        time.sleep(0.05)
        self.run(["xdotool", "click", "--repeat", "2", "--delay", "60", "1"])

    def key(self, window, keys):
        """Activates the window and types keys (xdotool names: Return, Escape, alt+F4)."""
        self.run(["xdotool", "windowactivate", "--sync", str(window)], check=False)
        self.run(["xdotool", "key", "--clearmodifiers", keys])

    def screenshot(self, window, path):
        """Saves a PNG of one window as it is on screen (xwd, then convert)."""
        dump = subprocess.run(["xwd", "-silent", "-id", str(window)], env=self.env, capture_output=True, timeout=20)
        if dump.returncode != 0:
            raise TestFailure(f"xwd of window {window} failed: {dump.stderr.decode(errors='replace').strip()}")
        subprocess.run(["convert", "xwd:-", path], input=dump.stdout, check=True, timeout=20)
        return path

    def property(self, window, name):
        return self.run(["xprop", "-id", str(window), name], check=False)


def control_rects(build_dir, layout):
    """Control rectangles of a skin layout by name, from the layout renderer."""
    out = subprocess.run([os.path.join(build_dir, "render_layout"), os.path.join(SOURCE_DIR, "skin", layout),
                          os.devnull, "--rects"], capture_output=True, text=True, check=True).stdout
    rects = {}
    for line in out.splitlines():
        parts = line.split()
        if len(parts) == 4 and parts[2] != "-":
            left, top, right, bottom = (int(v) for v in parts[3].split(","))
            rects[parts[2]] = (left, top, right, bottom)
    return rects


def centre(rect):
    return (rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2


class UpdateService:
    """The local update service with a sample release of the sample product."""

    def __init__(self, build_dir, work_dir, product_dir, version, from_version, min_version=None,
                 size=4 * 1024 * 1024, rate=None, announced_md5=None, sign=None, windows_dir=None):
        self.build_dir = build_dir
        self.release_dir = os.path.join(work_dir, "release")
        # The Windows product's installer is a batch file that writes into
        # the product's folder by its Windows path.
        where = ["--windows-dir", windows_dir] if windows_dir else ["--product-dir", product_dir]
        args = [os.path.join(SOURCE_DIR, "tools", "sample_release", "make_release.sh"), "--out", self.release_dir,
                *where, "--version", version, "--from", from_version, "--size", str(size)]
        if min_version:
            args += ["--min", min_version]
        if announced_md5:
            args += ["--md5", announced_md5]
        # "good": signed with the sample release's key by minisign; "tampered":
        # the same, then one byte of the package changed and its MD5 announced.
        if sign:
            args += ["--sign-key", os.path.join(SOURCE_DIR, "tools", "sample_release", "demo_release.key"),
                     "--product", PRODUCT]
            if sign == "tampered":
                args.append("--tamper")
        out = subprocess.run(args, capture_output=True, text=True, check=True).stdout
        values = dict(line.split("=", 1) for line in out.split())
        self.package = values["package"]
        self.md5 = values["md5"]
        self.key_id = values.get("key")
        self.rate = rate
        self.proc = None
        self.port = None
        self.log_path = os.path.join(work_dir, "service.log")

    def __enter__(self):
        args = [os.path.join(self.build_dir, "update_service"), "--answer",
                os.path.join(self.release_dir, "answer.json"), "--packages", os.path.join(self.release_dir, "packages")]
        if self.rate:
            args += ["--rate", str(self.rate)]
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=self.log, text=True)
        line = self.proc.stdout.readline()
        match = re.match(r"port=(\d+)", line)
        if not match:
            raise TestFailure(f"update service did not start: {line!r}")
        self.port = int(match.group(1))
        return self

    def __exit__(self, *exc):
        stop_process(self.proc)
        self.log.close()

    def hide_package(self):
        """Moves the package away, so that the host answers 404."""
        os.rename(self.package, self.package + ".away")

    def restore_package(self):
        os.rename(self.package + ".away", self.package)


def free_port():
    """A port of 127.0.0.1 that was free a moment ago."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Tinyproxy:
    """Debian's tinyproxy on a free port of 127.0.0.1, with its log, for the
    runs that reach the service through a proxy."""

    def __init__(self):
        # The proxy drops to the user nobody, who writes the log here.
        self.dir = make_scratch("tamsa-e2e-proxy-")
        os.chmod(self.dir, 0o777)
        self.port = free_port()
        self.log_path = os.path.join(self.dir, "access.log")
        self.proc = None

    def __enter__(self):
        config = os.path.join(self.dir, "tinyproxy.conf")
        with open(config, "w") as f:
            f.write(f"User nobody\nGroup nogroup\nPort {self.port}\nListen 127.0.0.1\nTimeout 30\n"
                    f"LogFile \"{self.log_path}\"\nLogLevel Info\nMaxClients 20\nAllow 127.0.0.1\n")
        self.out = open(os.path.join(self.dir, "tinyproxy.out"), "w")
        self.proc = subprocess.Popen(["/usr/bin/tinyproxy", "-d", "-c", config], stdout=self.out,
                                     stderr=subprocess.STDOUT)
        def answers():
            if self.proc.poll() is not None:
                raise TestFailure(f"tinyproxy ended at start: {open(self.out.name).read()}")
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", self.port)) == 0
        wait_until(answers, 15, "tinyproxy to listen")
        return self

    def __exit__(self, *exc):
        stop_process(self.proc)
        self.out.close()
        remove_scratch(self.dir)

    def url(self):
        return f"http://127.0.0.1:{self.port}"

    def requests(self):
        """The request lines tinyproxy logged ("GET http://... HTTP/1.1")."""
        if not os.path.exists(self.log_path):
            return []
        with open(self.log_path, errors="replace") as f:
            return re.findall(r"Request \(file descriptor \d+\): (.*)$", f.read(), re.M)


def make_scratch(prefix):
    return tempfile.mkdtemp(prefix=prefix, dir=os.environ.get("TMPDIR", "/tmp"))


def remove_scratch(path):
    shutil.rmtree(path, ignore_errors=True)
