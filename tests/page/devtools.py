"""Debian's Chromium, headless, driven through the DevTools protocol over a websocket
(python3-websocket): open a page, run script in it, press keys, move the mouse, take its picture,
and keep every request it makes and every exception it throws."""

import base64
import json
import os
import shutil
import struct
import subprocess
import tempfile
import time
import urllib.request
import zlib

import websocket


class Unavailable(Exception):
    """Chromium is not there or does not start: the test says it was skipped."""


class Browser:
    def __init__(self, width=1600, height=900):
        program = shutil.which("chromium") or shutil.which("chromium-browser")
        if program is None:
            raise Unavailable("Chromium is not installed (Debian package chromium)")
        self.profile = tempfile.mkdtemp(prefix="umbrascope-chromium-")
        # As a closed network needs: no background connections, no first-run pages.
        self.process = subprocess.Popen(
            [program, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-default-apps", "--hide-scrollbars", "--force-device-scale-factor=1",
             f"--window-size={width},{height}", f"--user-data-dir={self.profile}", "--remote-debugging-port=0",
             "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        for _ in range(200):
            if os.path.exists(port_file) and os.path.getsize(port_file) > 0:
                break
            if self.process.poll() is not None:
                raise Unavailable("Chromium did not start: " + self.process.stderr.read().decode(errors="replace")[-300:])
            time.sleep(0.05)
        else:
            self.close()
            raise Unavailable("Chromium did not open its DevTools port in 10 s")
        port = open(port_file).read().split()[0]
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
        page = next(t for t in targets if t["type"] == "page")
        self.socket = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=60)
        self.next_id = 0
        self.requests = []
        self.exceptions = []
        self.console = []
        for domain in ("Page", "Runtime", "Network"):
            self.call(domain + ".enable")

    def close(self):
        try:
            self.socket.close()
        except Exception:
            pass
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def _event(self, message):
        method = message.get("method")
        params = message.get("params", {})
        if method == "Network.requestWillBeSent":
            self.requests.append(params["request"]["url"])
        elif method == "Runtime.exceptionThrown":
            self.exceptions.append(params["exceptionDetails"])
        elif method == "Runtime.consoleAPICalled":
            self.console.append(params)
        elif method == "Page.loadEventFired":
            self.loaded = True

    def call(self, method, **params):
        self.next_id += 1
        mine = self.next_id
        self.socket.send(json.dumps({"id": mine, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("id") == mine:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self._event(message)

    def open(self, url):
        """Opens `url` and waits until it has loaded, its scripts run."""
        self.call("Page.navigate", url=url)
        deadline = time.time() + 60
        while time.time() < deadline:
            state = self.call("Runtime.evaluate", expression="[location.href, document.readyState]", returnByValue=True)
            href, ready = state["result"].get("value", ["", ""])
            if href == url and ready == "complete":
                return
            time.sleep(0.05)
        raise RuntimeError(f"{url} did not load in 60 s")

    def run(self, expression):
        """The value of a script expression (awaited where it is a promise)."""
        result = self.call("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression[:80]}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def key(self, key, code=None, modifiers=0):
        codes = {"Home": 36, "End": 35, "ArrowLeft": 37, "ArrowRight": 39, "PageUp": 33, "PageDown": 34, " ": 32, "w": 87,
                 "t": 84, "T": 84, "k": 75}
        for kind in ("rawKeyDown", "keyUp"):
            self.call("Input.dispatchKeyEvent", type=kind, key=key, code=code or key,
                      windowsVirtualKeyCode=codes.get(key, 0), modifiers=modifiers)

    def mouse(self, x, y, kind="mouseMoved", button="none", clicks=0):
        self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button=button, clickCount=clicks)

    def picture(self):
        """The viewport as rows of (r, g, b)."""
        png = base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"])
        return decode_png(png)


def decode_png(data):
    """An 8-bit RGB or RGBA PNG as rows of (r, g, b) tuples."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    at, chunks, width = 8, b"", 0
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), "an 8-bit RGB or RGBA PNG"
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            chunks += body
        at += 12 + length
    raw = zlib.decompress(chunks)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return rows
