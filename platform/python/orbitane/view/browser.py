"""A headless Chromium that opens pages, runs script in them, clicks and takes screenshots.

It speaks the DevTools protocol over the pipe that ``--remote-debugging-pipe`` opens (file
descriptors 3 and 4 of the browser, messages ending in a NUL byte), so it needs nothing beyond
the standard library and the browser itself: no port, no websocket, no driver. The demo, the
benchmarks and the tests drive their pages through it.
"""

import base64
import json
import fcntl
import os
import pathlib
import select
import shutil
import subprocess
import tempfile
import time

# The flags that let Chromium run as root on a machine without network or display, and draw
# WebGL in software.
_FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
          "--disable-background-networking", "--disable-component-update", "--disable-sync",
          "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--hide-scrollbars",
          "--remote-debugging-pipe")
_CANDIDATES = ("chromium", "chromium-browser", "google-chrome", "chrome")


def find_chromium():
    """The browser's path ($ORBITANE_CHROMIUM, else the first on PATH), or None."""
    named = os.environ.get("ORBITANE_CHROMIUM")
    if named:
        return named
    return next((path for path in map(shutil.which, _CANDIDATES) if path), None)


class BrowserError(RuntimeError):
    pass


def _moved_above(fd, lowest):
    """The descriptor renumbered to lowest or more."""
    moved = fcntl.fcntl(fd, fcntl.F_DUPFD, lowest)
    os.close(fd)
    return moved


class Browser:
    """One browser with one page of the given size; use as a context manager."""

    def __init__(self, width=1200, height=800, executable=None, timeout=120.0):
        executable = executable or find_chromium()
        if not executable:
            raise BrowserError("no Chromium found (install Debian's chromium, or set ORBITANE_CHROMIUM)")
        self._timeout = timeout
        self._profile = tempfile.mkdtemp(prefix="orbitane-chromium-")
        to_browser, self._commands = os.pipe()
        self._replies, from_browser = os.pipe()
        # moved above 4, so that neither redirection below overwrites the other's source (bash, since
        # dash takes only one-digit descriptors)
        to_browser, from_browser = _moved_above(to_browser, 10), _moved_above(from_browser, 10)
        # the browser reads commands on its fd 3 and writes replies on its fd 4
        self._process = subprocess.Popen(
            ["/bin/bash", "-c", f'exec "$@" 3<&{to_browser} 4>&{from_browser}', "sh", executable, *_FLAGS,
             f"--user-data-dir={self._profile}", f"--window-size={width},{height}", "about:blank"],
            pass_fds=(to_browser, from_browser), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(to_browser)
        os.close(from_browser)
        self._buffer = b""
        self._next_id = 0
        self.events = []
        try:
            target = self._call("Target.createTarget", url="about:blank")["targetId"]
            self._session = self._call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
            self.call("Page.enable")
            self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=1,
                      mobile=False)
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self._process.poll() is None:
            self._process.kill()
        self._process.wait()
        for fd in (self._commands, self._replies):
            try:
                os.close(fd)
            except OSError:
                pass
        shutil.rmtree(self._profile, ignore_errors=True)

    def _read_message(self, deadline):
        while b"\0" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._replies], [], [], left)[0]:
                raise BrowserError("the browser did not answer in time")
            chunk = os.read(self._replies, 1 << 20)
            if not chunk:
                raise BrowserError("the browser ended")
            self._buffer += chunk
        message, self._buffer = self._buffer.split(b"\0", 1)
        return json.loads(message)

    def _call(self, method, session=None, **params):
        self._next_id += 1
        request = {"id": self._next_id, "method": method, "params": params}
        if session:
            request["sessionId"] = session
        os.write(self._commands, json.dumps(request).encode() + b"\0")
        deadline = time.monotonic() + self._timeout
        while True:
            message = self._read_message(deadline)
            if message.get("id") == self._next_id:
                if "error" in message:
                    raise BrowserError(f"{method}: {message['error'].get('message')}")
                return message.get("result", {})
            self.events.append(message)

    def call(self, method, **params):
        """A DevTools command on the page; its result."""
        return self._call(method, self._session, **params)

    def open(self, path):
        """Loads a file and waits until its load event."""
        self.events.clear()
        self.call("Page.navigate", url=pathlib.Path(path).resolve().as_uri())
        deadline = time.monotonic() + self._timeout
        while not any(e.get("method") == "Page.loadEventFired" for e in self.events):
            self.events.append(self._read_message(deadline))

    def evaluate(self, expression):
        """The value of a JavaScript expression in the page (promises are awaited)."""
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            details = result["exceptionDetails"]
            raise BrowserError(details.get("exception", {}).get("description") or details.get("text"))
        return result["result"].get("value")

    def wait_for(self, expression, timeout=None):
        """Polls until the expression is truthy; returns its value."""
        deadline = time.monotonic() + (timeout or self._timeout)
        while True:
            value = self.evaluate(expression)
            if value:
                return value
            if time.monotonic() > deadline:
                raise BrowserError(f"timed out waiting for {expression}")
            time.sleep(0.05)

    def click(self, x, y):
        for kind in ("mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1)

    def screenshot(self, clip=None):
        """The page, or the region clip ({x, y, width, height, scale}) of it, as PNG bytes."""
        extra = {"clip": clip} if clip else {}
        return base64.b64decode(self.call("Page.captureScreenshot", format="png", **extra)["data"])


def wait_for_first_frame(browser, timeout=None):
    """Milliseconds from navigation to the page's first drawn frame (as the page measured it)."""
    browser.wait_for("window.orbitaneViewer && (window.orbitaneViewer.firstFrameMs !== null || "
                     "document.getElementById('message').hidden === false)", timeout)
    # one more animation frame, so that the drawn frame has reached the screen
    browser.evaluate("new Promise(r => requestAnimationFrame(() => requestAnimationFrame(r)))")
    return browser.evaluate("window.orbitaneViewer.firstFrameMs")
