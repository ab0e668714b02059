"""``python3 -m cdt report --follow FILE_OR_DIR``: the quick-look page of a
recording being written, served on 127.0.0.1 and redrawn as it grows.

One thread follows the recording (:meth:`cdt.Recording.follow`, or for a
directory the recording set its hosts write there, :meth:`cdt.RecordingSet.follow`)
and reduces its lines into the page's bins as they come, so that the work per
line is done once. The page has two parts, redrawn apart: its texts (the
summary, how far the file has been read), cheap and redrawn when lines have
come, at most once every :data:`_REDRAW_SECONDS`; and its pictures, redrawn
one at a time by a thread of their own from a copy of the bins, the one of
the fewest lines first, each drawing followed by a rest so that they take at
most 1 / :data:`_PICTURES_SHARE` of a core: on a busy machine the drawing
never keeps the follow from keeping up with the recording, and a page
changes by one picture at a time. The page asks the server for the
drawing's number every second (``status.json``) and, when it has changed,
fetches the new page (``page``) and shows it in place, keeping the pictures
it shows that have not been redrawn (``data-lines``: the lines they show).

When the recording ends, its final page is drawn as ``python3 -m cdt report``
draws a finished recording's (with the record counts, the resonances and the
profile records, the lines not read again) and written to the output
directory.
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
from . import _file_page, _page_path, _write_page
from .figures import _pyplot
from .page import _compose, _file_pieces, _footer, _Page, _Pictures
from .reduction import _Reduction, _SetReduction
from .set_page import _compose_set, _set_live_pieces
from .sets import _opened_set, _set_name, _set_page

# The least time between two drawings of the page's texts.
_REDRAW_SECONDS = 1.0
# After drawing a picture, the next is drawn no sooner than this many times
# the drawing's duration after it began: the pictures take at most about
# 1 / _PICTURES_SHARE of a core.
_PICTURES_SHARE = 2.0
# How often a directory is looked at for a recording being started there.
_DISCOVERY_SECONDS = 0.5
# How long a server told to exit when done keeps serving the final page.
_LINGER_SECONDS = 3.0

# Asks for the drawing's number every second and shows a new drawing in
# place, keeping the pictures shown that the new drawing has unchanged (the
# same id and data-lines); stops asking once the recording's final drawing
# is shown. A server that has gone away leaves the page as it is.
_SCRIPT = """<script>
(() => {
  let busy = false;
  let timer = null;
  function show(page) {
    const kept = new Map();
    for (const node of document.body.querySelectorAll(":scope > [data-lines]")) {
      kept.set(node.id, node);
    }
    const nodes = [...page.body.childNodes].map((node) => {
      const old = node.id ? kept.get(node.id) : undefined;
      if (old && old.dataset.lines === node.dataset.lines) return old;
      return document.importNode(node, true);
    });
    document.body.replaceChildren(...nodes);
  }
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
        show(page);
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

    def __init__(self, path: str, encoding: Optional[str], idle: Optional[float],
                 out_dir: Optional[str] = None):
        self.path = path
        self.encoding = encoding
        self.idle = idle
        self.out_dir = out_dir    # where the final page is written (None: nowhere)
        self.written: Optional[str] = None  # the final page's path once written
        self.is_set = os.path.isdir(path)
        self.lock = threading.Lock()
        self.version = 0
        self.html = self._placeholder("Waiting for the recording to begin.")
        self.done = False        # the follow has ended and its final page is drawn
        self.state = "waiting"   # then "following", "finished", "idle", "stopped", "failed"
        self.error: Optional[str] = None
        self._lines = 0           # lines reduced so far
        self._drawn = (-1, -1)    # the lines of the drawing shown, and of its pictures
        self._ended = False
        self._reduction: Any = None
        self._target: Any = None  # the Recording or RecordingSet the page describes
        self._pictures = _Pictures()  # the pictures last drawn
        self._pictures_version = 0
        self._follow: Any = None
        # Held while pictures are drawn: pyplot's figures are made by one thread at a time.
        self._drawing = threading.Lock()
        self._stopping = threading.Event()
        self._wake = threading.Event()           # for the texts
        self._wake_pictures = threading.Event()  # for the pictures

    # -- the follow ---------------------------------------------------------

    def start(self) -> None:
        threading.Thread(target=self._run_follow, name="cdt-follow", daemon=True).start()
        threading.Thread(target=self._run_drawing, name="cdt-draw", daemon=True).start()
        threading.Thread(target=self._run_pictures, name="cdt-pictures", daemon=True).start()

    def stop(self) -> None:
        self._stopping.set()
        self._wake.set()
        self._wake_pictures.set()
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
                self._wake_pictures.set()
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
            self._wake_pictures.set()

    # -- the drawings -------------------------------------------------------

    def _run_drawing(self) -> None:
        """Redraws the page's texts, with the pictures last drawn, when lines
        or pictures have come; once the follow has ended, the final page."""
        _pyplot()  # imported once here, not while the follow waits for the lock
        last = 0.0
        while True:
            self._wake.wait()
            self._wake.clear()
            if self._ended:
                self._finish()
                return
            if self._stopping.is_set():
                return
            pause = last + _REDRAW_SECONDS - time.monotonic()
            if pause > 0:
                self._stopping.wait(pause)
                if self._ended or self._stopping.is_set():
                    self._wake.set()
                    continue
            follow_state = self._follow.state() if self._follow is not None else None
            with self.lock:
                drawn = (self._lines, self._pictures_version)
                if drawn == self._drawn:
                    continue
                # The texts only: a few milliseconds, while the follow waits.
                text = self._draw(self._target, self._reduction, self.state, follow_state,
                                  self._pictures)
                lines, state = self._lines, self.state
            last = time.monotonic()
            self._publish(text, lines, state, drawn)

    def _run_pictures(self) -> None:
        """Redraws the pictures one at a time, the one of the fewest lines
        first, each from a copy of the bins as they are when it is drawn;
        after each drawing it rests (_PICTURES_SHARE - 1) times as long."""
        drawn: Dict[str, Any] = {}  # per picture: its HTML, lines and bins' width
        while True:
            self._wake_pictures.wait()
            self._wake_pictures.clear()
            while not (self._ended or self._stopping.is_set()):
                with self.lock:
                    if self._target is None:
                        break
                    target, lines = self._target, self._lines
                    reduction = copy.deepcopy(self._reduction)
                pieces = (_set_live_pieces(target, reduction) if self.is_set
                          else _file_pieces(reduction))
                stale = [key for key, _ in pieces if drawn.get(key, ("", -1))[1] < lines]
                if not stale:
                    break
                key = min(stale, key=lambda k: drawn.get(k, ("", -1))[1])
                draw = dict(pieces)[key]
                began = time.monotonic()
                with self._drawing:
                    if self._ended:
                        return  # the final page draws its own
                    part = _Page("")
                    try:
                        draw(part)
                    except Exception as e:  # the picture says why instead
                        part.note(f"The picture could not be drawn: {type(e).__name__}: {e}")
                took = time.monotonic() - began
                drawn[key] = ("\n".join(part.parts), lines, reduction.bins.width)
                shown = [drawn[k] for k, _ in pieces if k in drawn]
                widths = [w for _, _, w in shown]
                text = "\n".join(f'<div id="picture-{html.escape(k)}" data-lines="{drawn[k][1]}">'
                                 f"{drawn[k][0]}</div>" for k, _ in pieces if k in drawn)
                fewest = min(n for _, n, _ in shown) if len(shown) == len(pieces) else 0
                with self.lock:
                    self._pictures = _Pictures(text, fewest, (min(widths), max(widths)))
                    self._pictures_version += 1
                self._wake.set()
                self._stopping.wait((_PICTURES_SHARE - 1) * took)

    def _publish(self, text: str, lines: int, state: str, drawn=(-1, -1),
                 done: bool = False) -> None:
        # The title tells how far the recording has come (a browser's tab shows it).
        text = text.replace("</title>", f" ({lines} lines, {state})</title>", 1)
        with self.lock:
            self.html = text
            self.version += 1
            self._drawn = drawn
            self.done = done

    def _finish(self) -> None:
        """The final page: as report draws the finished recording's, from
        the lines followed, written to the output directory; a follow that
        failed or was stopped keeps the page of the lines it read."""
        with self.lock:
            target, reduction, state, lines = self._target, self._reduction, self.state, self._lines
        follow_state = self._follow.state() if self._follow is not None else None
        with self._drawing:
            text = self._final_drawing(target, reduction, state, follow_state)
        self._publish(text, lines, state, done=True)

    def _final_drawing(self, target, reduction, state: str, follow_state) -> str:
        text = None
        # A file's final page needs no line of it followed (a set's needs its set).
        if (target is not None or not self.is_set) and state in ("finished", "idle"):
            try:
                text, out = self._final_page(target, reduction, follow_state)
                if self.out_dir is not None:
                    self.written = _write_page(text, out)
            except Exception as e:  # said on the page drawn instead, and on standard error
                with self.lock:
                    self.error = (f"The final page could not be made: "
                                  f"{type(e).__name__}: {' '.join(str(e).split())}")
                print(f"cdt report: {self.path}: {self.error}", file=sys.stderr, flush=True)
        if text is None:
            text = self._draw(target, reduction, state, follow_state, None)
        return text

    def _final_page(self, target, reduction, follow_state):
        """The finished recording's page and where it goes."""
        out_dir = self.out_dir if self.out_dir is not None else "."
        if self.is_set:
            stopped = {h: dict(st["stopped"]) for h, st in zip(target.hosts, follow_state)}
            first = _existing(next(f for f in target.files if f is not None))
            s, states = _opened_set(first, None, self.encoding)
            return (_set_page(s, states, (reduction, stopped)),
                    os.path.join(out_dir, _set_name(s) + ".html"))
        path = _existing(self.path)
        stopped = dict(follow_state["stopped"])
        return _file_page(path, self.encoding, (reduction, stopped)), _page_path(path, out_dir)

    def _draw(self, target, reduction, state: str, follow_state, pictures) -> str:
        try:
            if target is None or reduction is None:
                text = self.error or ("No lines yet." if state == "following"
                                      else "Waiting for the recording to begin.")
                return self._placeholder(text)
            page_state = {"following": "following", "finished": "finished"}.get(state, "unfinished")
            if self.is_set:
                return self._draw_set(target, reduction, page_state, follow_state, pictures)
            # While following, the summary says how far the file has been read.
            where = follow_state or {}
            if page_state != "following":
                where = where.get("stopped", {})
            return _compose(target, _existing(self.path), self.encoding, page_state, where,
                            reduction, None, None, None, pictures)
        except Exception as e:  # a drawing that fails says why instead
            return self._placeholder(f"The page could not be drawn: {type(e).__name__}: {e}")

    def _draw_set(self, s, reduction, page_state: str, follow_state, pictures) -> str:
        states = follow_state or []
        if page_state == "following":
            where = {h: dict(st) for h, st in zip(s.hosts, states)}
        else:
            where = {h: dict(st["stopped"]) for h, st in zip(s.hosts, states)}
        s.files = [_existing(p) for p in s.files]
        return _compose_set(s, s.name, self.encoding, [page_state] * len(s.hosts), where,
                            reduction, None, None, pictures)

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
          exit_when_done: bool = False, out=None, out_dir=".") -> int:
    """Serves the live page of `path` (a data file being written, by either
    name, or a directory where a recording set is being written or will
    be) on http://127.0.0.1:PORT/ until interrupted, or with
    `exit_when_done` a few seconds after the recording's final page is
    drawn. Prints ``serving URL`` first, and the final page's path once it
    is written to `out_dir` (None: not written). Returns the exit status:
    1 when the follow failed or the final page could not be written."""
    out = sys.stdout if out is None else out
    path = os.fsdecode(os.fspath(path))
    out_dir = None if out_dir is None else (os.fsdecode(os.fspath(out_dir)) or ".")
    live = _LivePage(path, encoding, idle, out_dir)
    server = ThreadingHTTPServer(("127.0.0.1", port), _handler(live))
    server.daemon_threads = True
    live.start()
    thread = threading.Thread(target=server.serve_forever, name="cdt-serve", daemon=True)
    thread.start()
    print(f"serving http://127.0.0.1:{server.server_address[1]}/", file=out, flush=True)
    said = False
    try:
        while True:
            done = live.status()["done"]
            if done and not said:
                said = True
                if live.written is not None:
                    from .command import _print_path
                    _print_path(live.written, out)
            if done and exit_when_done:
                break
            time.sleep(0.2)
        time.sleep(_LINGER_SECONDS)
    except KeyboardInterrupt:
        pass
    finally:
        live.stop()
        server.shutdown()
        server.server_close()
    failed = live.state == "failed" or (live.done and out_dir is not None and live.written is None
                                         and live.state in ("finished", "idle"))
    return 1 if failed else 0
