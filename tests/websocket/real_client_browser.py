"""A real browser (headless Chromium) opens the loopback relay from a page and talks to it."""
import os
import signal
import pathlib
import subprocess
import sys
import tempfile

from relay import Relay


def stop_group(process):
    try:
        os.killpg(process.pid, signal.SIGTERM)
        process.wait(10)
    except subprocess.TimeoutExpired:
        pass
    except ProcessLookupError:
        return
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    process.wait()


def main(program, browser):
    page = pathlib.Path(__file__).with_name("browser_page.html").resolve()
    relay = Relay(program)
    profile = tempfile.TemporaryDirectory(prefix="kelvarix-chromium-")
    chromium = None
    try:
        url = "%s#%d" % (page.as_uri(), relay.port)
        chromium = subprocess.Popen(
            [browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
             "--user-data-dir=" + profile.name, url],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            # Its own process group: Chromium starts helpers that outlive a signal to the
            # first process alone.
            start_new_session=True)
        seen = relay.wait_for("DISCONNECTED", timeout=60)
        text = "TEXT h\u00e9llo from the browser \u2713"
        for line in [text, "TEXT browser-text-ok", "BINARY 0001027f80ff",
                     "TEXT browser-binary-ok", "TEXT browser-pong-ok"]:
            assert line in seen, "relay did not get %r; it printed %r" % (line, seen)
    finally:
        if chromium:
            stop_group(chromium)
        relay.stop()
        profile.cleanup()
    print("headless Chromium: text, binary, ping/pong and close all passed")


if __name__ == "__main__":
    if len(sys.argv) < 3 or not os.path.exists(sys.argv[2]):
        sys.exit("no headless Chromium found; tools/install-deps.sh installs chromium-headless-shell")
    main(sys.argv[1], sys.argv[2])
