"""Runs the loopback relay program and collects the lines it prints."""
import queue
import subprocess
import threading


class Relay:
    def __init__(self, program):
        self.proc = subprocess.Popen([program], stdout=subprocess.PIPE, text=True,
                                     encoding="utf-8", bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._pump, daemon=True).start()
        first = self.next_line(10)
        if not first.startswith("PORT "):
            raise RuntimeError("relay did not start: %r" % first)
        self.port = int(first.split()[1])
        self.seen = []

    def _pump(self):
        for line in self.proc.stdout:
            self.lines.put(line.rstrip("\n"))

    def next_line(self, timeout):
        return self.lines.get(timeout=timeout)

    def wait_for(self, wanted, timeout=20):
        """Waits until the relay printed this exact line; returns every line seen so far."""
        while wanted not in self.seen:
            try:
                self.seen.append(self.next_line(timeout))
            except queue.Empty:
                raise AssertionError("relay never printed %r; it printed %r" % (wanted, self.seen))
        return self.seen

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
