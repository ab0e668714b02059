"""``python3 -m cdt report --follow FILE_OR_DIR``: the quick-look page of a
recording being written, served on 127.0.0.1 and redrawn as it grows.

One thread follows the recording (:meth:`cdt.Recording.follow`, or for a
directory the recording set its hosts write there, :meth:`cdt.RecordingSet.follow`)
and reduces its lines into the page's bins as they come; another redraws the
page from the bins when lines have come since the last drawing, at most once
every :data:`_REDRAW_SECONDS`. The page asks the server for the drawing's
number every second (``status.json``) and, when it has changed, fetches the
new page (``page``) and shows it in place.
"""

from __future__ import annotations

import copy
import html
import json
import os
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from typing import Any, Dict, Optional

from .._open import follow as _follow_file
from .._open import open as _open
from .._sets import open_set as _open_set
from .._follow import live_set
from .page import _compose, _footer, _Page
from .reduction import _Reduction, _SetReduction
from .set_page import _compose_set

# The least time between two drawings of the page.
_REDRAW_SECONDS = 1.5
# How often a directory is looked at for a recording being started there.
_DISCOVERY_SECONDS = 0.5
# How long a server told to exit when done keeps serving the final page.
_LINGER_SECONDS = 3.0

# Asks for the drawing's number every second and shows a new drawing in
# place; stops asking once the recording's final drawing is shown. A server
# that has gone away leaves the page as it is.
_SCRIPT = """<script>
(() => {
  let busy = false;
  let timer = null;
  async function poll() {
    if (busy) return;
    busy = true;
    try {
      const shown = Number(document.body.dataset.version);
      const status = await (await fetch("status.json", {cache: "no-store"})).json();
      if (status.version !== shown) {
        const reply = await fetch("page?v=" + status.version, {cache: "no-store"});
        const page = new DOMParser().parseFromString(await reply.text(), "text/html");
        document.title = page.title;
        document.body.innerHTML = page.body.innerHTML;
        document.body.dataset.version = page.body.dataset.version;
      } else if (status.done) {
        clearInterval(timer);
      }
    } catch (e) {
      clearInterval(timer);
    }
    busy = false;
  }
  timer = setInterval(poll, 1000);
})();
</script>"""


def _existing(path: str) -> str:
    """The file's name now: the one being written, or the final one once renamed."""
    if os.path.exists(path):
        return path
    other = path[:-5] if path.endswith(".temp") else path + ".temp"
    return other if os.path.exists(other) else path


class _LivePage:
    """The follow of a file or a directory's recording set, and its drawings."""

    def __init__(self, path: str, encoding: Optional[str], idle: Optional[float]):
        self.path = path
        self.encoding = encoding
        self.idle = idle
        self.is_set = os.path.isdir(path)
        self.lock = threading.Lock()
        self.version = 0
        self.html = self._placeholder("Waiting for the recording to begin.")
        self.done = False        # the follow has ended and its final page is drawn
        self.state = "waiting"   # then "following", "finished", "idle", "stopped", "failed"
        self.error: Optional[str] = None
        self._lines = 0           # lines reduced so far
        self._drawn_lines = -1
        self._ended = False
        self._reduction: Any = None
        self._target: Any = None  # the Recording or RecordingSet the page describes
        self._follow: Any = None
        self._stopping = threading.Event()
        self._wake = threading.Event()

    # -- the follow ---------------------------------------------------------

    def start(self) -> None:
        threading.Thread(target=self._run_follow, name="cdt-follow", daemon=True).start()
        threading.Thread(target=self._run_drawing, name="cdt-draw", daemon=True).start()

    def stop(self) -> None:
        self._stopping.set()
        self._wake.set()
        f = self._follow
        if f is not None:
            f.stop()

    def _open_set(self):
        """The recording set being written in the directory, once its files
        open; None when stopped first."""
        directory = os.fsencode(self.path)
        while not self._stopping.is_set():
            try:
                found = live_set(directory, None)
                if found is not None:
                    first = next(p for p in found["paths"] if p is not None)
                    return _open_set(os.fsdecode(first), encoding=self.encoding)
            except (ValueError, OSError):
                pass  # a file not yet readable: its header is still in the writer's buffer
            self._stopping.wait(_DISCOVERY_SECONDS)
        return None

    def _run_follow(self) -> None:
        try:
            if self.is_set:
                s = self._open_set()
                if s is None:
                    return
                with self.lock:
                    self._target = s
                    self._reduction = _SetReduction(len(s.hosts))
                    self.state = "following"
                self._follow = s.follow(rows=8192, idle=self.idle)
            else:
                self._follow = _follow_file(self.path, rows=8192, idle=self.idle,
                                            encoding=self.encoding)
                with self.lock:
                    self._reduction = _Reduction()
                    self.state = "following"
            if self._stopping.is_set():
                self._follow.stop()
            for batch in self._follow:
                with self.lock:
                    if self._target is None:
                        # The file is readable now and the host of its lines known.
                        self._target = _open(_existing(self.path), salvage=True,
                                             encoding=self.encoding)
                    self._reduction.add(batch)
                    self._lines += len(batch)
                self._wake.set()
            with self.lock:
                self.state = self._follow.status
        except Exception as e:  # shown on the page, and said once on standard error
            with self.lock:
                self.state = "failed"
                self.error = " ".join(str(e).split()) or type(e).__name__
            print(f"cdt report: {self.path}: {self.error}", file=sys.stderr, flush=True)
        finally:
            with self.lock:
                self._ended = True
            self._wake.set()

    # -- the drawings -------------------------------------------------------

    def _run_drawing(self) -> None:
        last = 0.0
        while True:
            self._wake.wait()
            self._wake.clear()
            if self._stopping.is_set() and not self._ended:
                return
            pause = last + _REDRAW_SECONDS - time.monotonic()
            if pause > 0 and not self._ended:
                self._wake.wait(pause)
            with self.lock:
                ended = self._ended
                if self._lines == self._drawn_lines and not ended:
                    continue
                lines = self._lines
                reduction = copy.deepcopy(self._reduction)
                target, state = self._target, self.state
            text = self._draw(target, reduction, state)
            # The title tells how far the recording has come (a browser's tab shows it).
            text = text.replace("</title>", f" ({lines} lines, {state})</title>", 1)
            last = time.monotonic()
            with self.lock:
                self.html = text
                self.version += 1
                self._drawn_lines = lines
                if ended:
                    self.done = True
            if ended:
                return

    def _draw(self, target, reduction, state: str) -> str:
        try:
            if target is None or reduction is None:
                text = self.error or ("No lines yet." if state == "following"
                                      else "Waiting for the recording to begin.")
                return self._placeholder(text)
            page_state = {"following": "following", "finished": "finished"}.get(state, "unfinished")
            if self.is_set:
                return self._draw_set(target, reduction, page_state)
            state_now = self._follow.state() if self._follow is not None else {}
            stopped = state_now.get("stopped", {})
            return _compose(target, _existing(self.path), self.encoding, page_state, stopped,
                            reduction, None, None, None)
        except Exception as e:  # a drawing that fails says why instead
            return self._placeholder(f"The page could not be drawn: {type(e).__name__}: {e}")

    def _draw_set(self, s, reduction, page_state: str) -> str:
        states = self._follow.state() if self._follow is not None else []
        stopped = {h: dict(st["stopped"]) for h, st in zip(s.hosts, states)}
        s.files = [_existing(p) for p in s.files]
        return _compose_set(s, s.name, self.encoding, [page_state] * len(s.hosts), stopped,
                            reduction, None, None)

    def _placeholder(self, text: str) -> str:
        name = os.path.basename(os.path.normpath(self.path))
        page = _Page(f"{name}: quick look")
        page.add(f"<h1>{html.escape(name)}</h1>")
        page.note(text)
        _footer(page)
        return page.html()

    def served(self) -> str:
        """The current drawing as the server sends it: numbered, with the
        script that keeps it current."""
        with self.lock:
            text, version = self.html, self.version
        text = text.replace("<body>", f'<body data-version="{version}">', 1)
        head = '<link rel="icon" href="data:,">' + _SCRIPT + "</head>"
        return text.replace("</head>", head, 1)

    def status(self) -> Dict[str, Any]:
        with self.lock:
            return {"version": self.version, "state": self.state, "lines": self._lines,
                    "done": self.done}


def _handler(live: _LivePage):
    class Handler(BaseHTTPRequestHandler):
        def do_GET(self):  # noqa: N802 (the http.server name)
            route = self.path.split("?", 1)[0]
            if route in ("/", "/page", "/index.html"):
                self._send(200, "text/html; charset=utf-8", live.served().encode("utf-8"))
            elif route == "/status.json":
                self._send(200, "application/json", json.dumps(live.status()).encode("utf-8"))
            elif route == "/favicon.ico":
                self._send(204, "image/x-icon", b"")
            else:
                self._send(404, "text/plain; charset=utf-8", b"not found\n")

        def _send(self, code: int, kind: str, body: bytes) -> None:
            self.send_response(code)
            self.send_header("Content-Type", kind)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            if body:
                self.wfile.write(body)

        def log_message(self, format, *args):  # noqa: A002 (the http.server name)
            pass  # a poll every second per page: not worth a line each

    return Handler


def serve(path, *, port: int = 0, encoding: Optional[str] = None, idle: Optional[float] = 60.0,
          exit_when_done: bool = False, out=None) -> int:
    """Serves the live page of `path` (a data file being written, by either
    name, or a directory where a recording set is being written or will
    be) on http://127.0.0.1:PORT/ until interrupted, or with
    `exit_when_done` a few seconds after the recording's final page is
    drawn. Prints ``serving URL`` first. Returns the exit status."""
    out = sys.stdout if out is None else out
    path = os.fsdecode(os.fspath(path))
    live = _LivePage(path, encoding, idle)
    server = ThreadingHTTPServer(("127.0.0.1", port), _handler(live))
    server.daemon_threads = True
    live.start()
    thread = threading.Thread(target=server.serve_forever, name="cdt-serve", daemon=True)
    thread.start()
    print(f"serving http://127.0.0.1:{server.server_address[1]}/", file=out, flush=True)
    try:
        while not (exit_when_done and live.status()["done"]):
            time.sleep(0.2)
        time.sleep(_LINGER_SECONDS)
    except KeyboardInterrupt:
        pass
    finally:
        live.stop()
        server.shutdown()
        server.server_close()
    return 1 if live.state == "failed" else 0
