"""Drives a real program in a private X server, the way a user would.

Used by the end-to-end tests: start an Xvfb of our own (Xvfb picks a free
display number), start the program in it, find its window, read the window's
geometry, title and properties, press keys, click, take screenshots and read
pixels. Only the Python standard library and the command-line tools Xvfb,
xdotool, xprop, xwininfo and ImageMagick's import are used.

The program keeps one instance per user with a lock in $XDG_RUNTIME_DIR and
a hand-over name drawn at random; each XServer gives the programs started on it
a runtime directory of its own, so tests never meet each other's instances and
run side by side. Only a test that touches what the whole machine shares (the
framework's old machine-wide lock file) holds `machine_lock()`, which also
covers test runs from other checkouts on the same machine.
"""

import contextlib
import ctypes
import ctypes.util
import fcntl
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

# The framework's instance lock file, named after the application.
FRAMEWORK_LOCK_FILE = "/var/tmp/juceAppLock_TRBKelo7UpdateProgram"
HARNESS_LOCK_FILE = "/var/tmp/trb-e2e.lock"

# Atoms a window manager would create; the framework writes the window's
# allowed actions and state only when they exist, so the harness creates them.
WINDOW_MANAGER_ATOMS = [
    "_MOTIF_WM_HINTS",
    "_NET_WM_ALLOWED_ACTIONS",
    "_NET_WM_ACTION_RESIZE",
    "_NET_WM_ACTION_FULLSCREEN",
    "_NET_WM_ACTION_MINIMIZE",
    "_NET_WM_ACTION_CLOSE",
    "_NET_WM_STATE",
    "_NET_WM_STATE_ABOVE",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "WM_PROTOCOLS",
    "WM_DELETE_WINDOW",
]

MOTIF_FUNC_MOVE = 4

# The longest a test waits for the program (a window, a screen, the end of an
# update) or for a tool: generous for a sanitizer build on a busy machine, since
# every wait ends as soon as what it waits for has happened. A wait this long
# means the program hung.
PATIENCE = 300

# How long a test waits for another test that holds the machine-wide lock
# (one of another build tree or checkout, perhaps a slow one).
LOCK_PATIENCE = 1200


class HarnessError(AssertionError):
    pass


def wait_until(condition, timeout, interval=0.05, what="condition"):
    """Polls condition() until it returns something true; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise HarnessError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


@contextlib.contextmanager
def machine_lock(timeout=LOCK_PATIENCE):
    """Serialises the tests that touch the framework's old machine-wide lock
    file, and waits until no process holds that lock."""
    with open(HARNESS_LOCK_FILE, "a") as harness:
        wait_until(lambda: _try_lock(harness), timeout, 0.2, "the end-to-end test lock")
        try:
            wait_until(framework_lock_is_free, PATIENCE, 0.1, "a running updater to end")
            yield
        finally:
            fcntl.flock(harness, fcntl.LOCK_UN)


def hold_machine_lock(testcase):
    """Takes machine_lock() for the rest of a test: it is let go at the test's clean-up."""
    lock = machine_lock()
    lock.__enter__()
    testcase.addCleanup(lock.__exit__, None, None, None)


def private_server(testcase, width=1280, height=800):
    """Starts an XServer for the rest of a test: it stops at the test's clean-up."""
    server = XServer(width, height).__enter__()
    testcase.addCleanup(server.__exit__, None, None, None)
    return server


def _try_lock(handle):
    try:
        fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return True
    except BlockingIOError:
        return False


def framework_lock_is_free():
    """True when no process holds the framework's instance lock (a record lock
    that ends with its process). Probes by taking it and letting go at once."""
    if not os.path.exists(FRAMEWORK_LOCK_FILE):
        return True
    try:
        fd = os.open(FRAMEWORK_LOCK_FILE, os.O_RDWR)
    except OSError:
        return True
    try:
        fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        fcntl.lockf(fd, fcntl.LOCK_UN)
        return True
    except OSError:
        return False
    finally:
        os.close(fd)


class _ClientMessage(ctypes.Structure):
    # XClientMessageEvent, padded to the size of an XEvent.
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


class XServer:
    """A private Xvfb, with no window manager, for one test."""

    def __init__(self, width=1280, height=800):
        self.width, self.height = width, height
        self.process = None
        self.display = None
        # The programs started on this server keep their per-user instance
        # lock here, apart from every other test's.
        self.runtime_dir = None

    def __enter__(self):
        self.runtime_dir = tempfile.mkdtemp(prefix="trb-e2e-runtime-")
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0",
             f"{self.width}x{self.height}x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=[write_end], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        if not number:
            self.process.kill()
            raise HarnessError("Xvfb did not start")
        self.display = f":{number}"
        self._create_atoms(WINDOW_MANAGER_ATOMS)
        return self

    @contextlib.contextmanager
    def _xlib(self):
        """A connection of our own through libX11, for what the tools cannot do."""
        xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XInternAtom.restype = ctypes.c_ulong
        xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
        xlib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        connection = xlib.XOpenDisplay(self.display.encode())
        if not connection:
            raise HarnessError(f"cannot connect to {self.display}")
        try:
            yield xlib, connection
        finally:
            xlib.XCloseDisplay(connection)

    def _create_atoms(self, names):
        # Atoms outlive the connection that made them (the server runs with
        # -noreset), so the program finds them when it starts.
        with self._xlib() as (xlib, connection):
            for name in names:
                xlib.XInternAtom(connection, name.encode(), 0)

    def request_close(self, window):
        """Asks the window to close the way a window manager's close button,
        Alt+F4 or a taskbar's "Close" does: a WM_DELETE_WINDOW message."""
        with self._xlib() as (xlib, connection):
            event = _ClientMessage()
            event.type = 33  # ClientMessage
            event.window = window
            event.message_type = xlib.XInternAtom(connection, b"WM_PROTOCOLS", 0)
            event.format = 32
            event.data[0] = xlib.XInternAtom(connection, b"WM_DELETE_WINDOW", 0)
            event.data[1] = 0  # CurrentTime
            if not xlib.XSendEvent(connection, window, 0, 0, ctypes.byref(event)):
                raise HarnessError("XSendEvent failed")
            xlib.XSync(connection, 0)

    def __exit__(self, *exc):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.runtime_dir, ignore_errors=True)

    @property
    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env["XDG_RUNTIME_DIR"] = self.runtime_dir
        env.pop("XAUTHORITY", None)
        return env

    @property
    def instance_lock_file(self):
        """The lock file of the programs started on this server."""
        return os.path.join(self.runtime_dir, "TRBKelo7UpdateProgram.lock")

    def tool(self, *args, check=True):
        """Runs an X tool on this display and returns its standard output."""
        result = subprocess.run(list(args), env=self.env, capture_output=True, text=True, timeout=PATIENCE)
        if check and result.returncode != 0:
            raise HarnessError(f"{args[0]} failed ({result.returncode}): {result.stderr.strip()}")
        return result.stdout

    def start(self, program, *args, cwd=None, extra_env=None, popen_args=None):
        return Program(self, program, list(args), cwd, extra_env, popen_args)

    def root_window(self):
        return int(re.search(r"Window id: (0x[0-9a-f]+)", self.tool("xwininfo", "-root")).group(1), 16)

    def focused_window(self):
        return int(self.tool("xdotool", "getwindowfocus").strip())

    def focus(self, window):
        self.tool("xdotool", "windowfocus", "--sync", str(window))


class Window:
    def __init__(self, server, window_id):
        self.server, self.id = server, window_id

    def info(self):
        text = self.server.tool("xwininfo", "-id", str(self.id))
        field = lambda name: int(re.search(name + r":\s+(-?\d+)", text).group(1))
        return {
            "x": field("Absolute upper-left X"), "y": field("Absolute upper-left Y"),
            "width": field("Width"), "height": field("Height"),
            "viewable": "IsViewable" in text,
        }

    def size(self):
        info = self.info()
        return info["width"], info["height"]

    def title(self):
        return self.server.tool("xdotool", "getwindowname", str(self.id)).rstrip("\n")

    def property(self, name):
        """The property's value as xprop prints it, or None when it is not set."""
        text = self.server.tool("xprop", "-id", str(self.id), name)
        if "not found" in text or "no such atom" in text:
            return None
        return text.split("=", 1)[1].strip() if "=" in text else text.strip()

    def key(self, *keys):
        self.server.tool("xdotool", "key", "--window", str(self.id), *keys)

    def click(self, x, y, button=1):
        self.server.tool("xdotool", "mousemove", "--window", str(self.id), str(x), str(y),
                         "click", str(button))

    def exists(self):
        return subprocess.run(["xwininfo", "-id", str(self.id)], env=self.server.env,
                              capture_output=True, timeout=PATIENCE).returncode == 0

    def _require(self):
        # ImageMagick's import waits for a window that is gone instead of failing.
        if not self.exists():
            raise HarnessError(f"window {self.id} no longer exists")

    def screenshot(self, path):
        self._require()
        self.server.tool("import", "-window", str(self.id), path)

    def pixels(self):
        """The window's pixels as a Pixels object."""
        self._require()
        width, height = self.size()
        raw = subprocess.run(["import", "-window", str(self.id), "-depth", "8", "rgb:-"],
                             env=self.server.env, capture_output=True, timeout=PATIENCE, check=True).stdout
        if len(raw) != width * height * 3:
            raise HarnessError("screenshot has an unexpected size")
        return Pixels(width, height, raw)


class Pixels:
    def __init__(self, width, height, raw):
        self.width, self.height, self.raw = width, height, raw

    def at(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.raw[i:i + 3])

    def count(self, predicate, x0=0, y0=0, x1=None, y1=None):
        x1 = self.width if x1 is None else x1
        y1 = self.height if y1 is None else y1
        return sum(1 for y in range(y0, y1) for x in range(x0, x1) if predicate(self.at(x, y)))


class Program:
    """One started program; its output goes to a temporary file."""

    def __init__(self, server, path, args, cwd, extra_env, popen_args=None):
        """popen_args: what to start it with instead (standard streams, preexec_fn)."""
        self.server = server
        env = server.env
        # Libraries to load into the program only (see tests/e2e/CMakeLists.txt).
        if os.environ.get("TRB_PROGRAM_PRELOAD"):
            env["LD_PRELOAD"] = os.environ["TRB_PROGRAM_PRELOAD"]
        env.update(extra_env or {})
        self.log = tempfile.TemporaryFile()
        options = dict(stdout=self.log, stderr=subprocess.STDOUT)
        options.update(popen_args or {})
        self.process = subprocess.Popen([path] + args, cwd=cwd, env=env, **options)

    @property
    def pid(self):
        return self.process.pid

    def windows(self):
        out = self.server.tool("xdotool", "search", "--onlyvisible", "--pid", str(self.pid), check=False)
        return [Window(self.server, int(w)) for w in out.split()]

    def wait_for_window(self, timeout=PATIENCE):
        def find():
            if self.process.poll() is not None:
                raise HarnessError(f"program ended with {self.process.returncode} before "
                                   f"showing a window:\n{self.output()}")
            windows = self.windows()
            return windows[0] if windows else None
        return wait_until(find, timeout, what="the program's window")

    def signal(self, number=signal.SIGTERM):
        self.process.send_signal(number)

    def wait(self, timeout=PATIENCE):
        return self.process.wait(timeout)

    def output(self):
        self.log.seek(0)
        return self.log.read().decode("utf-8", "replace")

    def stop(self):
        """Ends the program if it still runs (used when a test failed midway)
        and lets go of its output."""
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.log.close()
