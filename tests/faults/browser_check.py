#!/usr/bin/python3
"""Loads a page in headless Chromium over its DevTools pipe, waits until the page's DOM holds every
expected text, then writes the DOM and a screenshot.

usage: browser_check.py URL DOM_FILE PNG_FILE SECONDS TEXT...
Exit status 0 when every text appeared within SECONDS, 1 otherwise (the DOM is written either way).
"""
import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time


class Pipe:
    def __init__(self, to_browser, from_browser):
        self.to_browser = to_browser
        self.from_browser = from_browser
        self.buffer = b""
        self.next_id = 0

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            reply = self.read()
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply.get("result", {})

    def read(self):
        while b"\0" not in self.buffer:
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                raise RuntimeError("the browser ended")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)


def main():
    url, dom_file, png_file, seconds = sys.argv[1], sys.argv[2], sys.argv[3], float(sys.argv[4])
    texts = sys.argv[5:]
    to_browser_read, to_browser_write = os.pipe()
    from_browser_read, from_browser_write = os.pipe()
    profile = tempfile.mkdtemp(prefix="velk-browser-")

    def descriptors():
        # The browser reads its commands on descriptor 3 and answers on 4 (copies, so that they
        # stay open across exec).
        read_end, write_end = os.dup(to_browser_read), os.dup(from_browser_write)
        os.dup2(read_end, 3)
        os.dup2(write_end, 4)

    browser = subprocess.Popen(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe",
         "--no-first-run", "--no-default-browser-check", "--user-data-dir=" + profile,
         "--window-size=1200,1600", "about:blank"],
        preexec_fn=descriptors, close_fds=False,
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(to_browser_read)
    os.close(from_browser_write)
    pipe = Pipe(to_browser_write, from_browser_read)
    found = False
    dom = ""
    try:
        target = pipe.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = pipe.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        pipe.send("Emulation.setDeviceMetricsOverride",
                  {"width": 1200, "height": 1600, "deviceScaleFactor": 1, "mobile": False}, session)
        pipe.send("Page.navigate", {"url": url}, session)
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            result = pipe.send("Runtime.evaluate", {"expression": "document.documentElement.outerHTML",
                                                    "returnByValue": True}, session)
            dom = result.get("result", {}).get("value", "")
            if all(text in dom for text in texts):
                found = True
                break
            time.sleep(0.25)
        # The live values and the trend have drawn: what the screenshot shows.
        shot = pipe.send("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True}, session)
        with open(png_file, "wb") as out:
            out.write(base64.b64decode(shot["data"]))
    finally:
        with open(dom_file, "w", encoding="utf-8") as out:
            out.write(dom)
        browser.terminate()
        try:
            browser.wait(10)
        except subprocess.TimeoutExpired:
            browser.kill()
            browser.wait()
        shutil.rmtree(profile, ignore_errors=True)
    missing = [text for text in texts if text not in dom]
    if missing:
        print("not in the page: " + ", ".join(missing), file=sys.stderr)
    return 0 if found else 1


if __name__ == "__main__":
    sys.exit(main())
