"""``python3 -m cdt report [--set [--time TIME]] PATH... [-o DIR] [--encoding NAME]``: one
page per file, or per recording set."""

from __future__ import annotations

import os
from typing import List

from .._cdt import FormatError
from . import report


def main(argv: List[str]) -> int:
    """``python3 -m cdt report FILE... [-o DIR] [--encoding NAME]``: one page per file;
    ``python3 -m cdt report --set DIR_OR_FILE... [--time TIME] ...``: one page per
    recording set (of a directory every set, or the one of ``--time``; of a
    data file its set).

    Prints the path of every page written; a file or set that gets no page
    gets one line on standard error, and the status is then 1.
    """
    import argparse
    import sys

    parser = argparse.ArgumentParser(
        prog="python3 -m cdt report",
        description="Writes a quick-look HTML page (NAME.html, pictures embedded) per recording, "
                    "or with --set per recording set.")
    parser.add_argument("files", nargs="+", metavar="PATH",
                        help="data files; with --set data files or directories")
    parser.add_argument("--set", action="store_true",
                        help="one page per recording set: the set of each data file, every set "
                             "of each directory")
    parser.add_argument("--follow", action="store_true",
                        help="serve the page of PATH, a recording being written (a data file by "
                             "either name, or a directory: the set its hosts write there) on "
                             "127.0.0.1, redrawn as it grows")
    parser.add_argument("--port", type=int, default=0,
                        help="with --follow: the port to serve on (default 0: any free port)")
    parser.add_argument("--idle", type=float, default=60.0, metavar="SECONDS",
                        help="with --follow: give up on a file that has not grown for this long "
                             "(default 60; 0: never)")
    parser.add_argument("--exit-when-done", action="store_true",
                        help="with --follow: exit once the recording's final page is drawn")
    parser.add_argument("--time", metavar="TIME", default=None,
                        help="with --set: of a directory, only the recording of that time")
    parser.add_argument("-o", "--output", metavar="DIR", default=".",
                        help="where the pages go (default: the current directory); with "
                             "--follow the recording's final page, once it ends")
    parser.add_argument("--encoding", metavar="NAME", default=None,
                        help="the installation's code page for the names (default: UTF-8 where "
                             "a name is valid UTF-8, else windows-1252)")
    args = parser.parse_args(argv)
    if args.time is not None and not args.set:
        parser.error("--time is for --set")
    if args.follow:
        if args.set or args.time is not None or len(args.files) != 1:
            parser.error("--follow serves one FILE_OR_DIR, without --set or --time")
        from .live import serve

        return serve(args.files[0], port=args.port, encoding=args.encoding, idle=args.idle,
                     exit_when_done=args.exit_when_done, out_dir=args.output)
    if args.port or args.exit_when_done:
        parser.error("--port and --exit-when-done are for --follow")
    if args.set:
        return _sets_main(args, sys.stdout, sys.stderr)
    status = 0
    for f in args.files:
        try:
            out = report(f, args.output, encoding=args.encoding)
        except Exception as e:  # every file gets a page or one line, never a traceback
            print(f"cdt report: {f}: {_one_line(e)}", file=sys.stderr, flush=True)
            status = 1
            continue
        _print_path(out, sys.stdout)
    return status


def _sets_main(args, out, err) -> int:
    """A page per set of every path (see :func:`main`)."""
    from .sets import _report_opened, _sets_in, report_set

    status = 0
    for path in args.files:
        try:
            if os.path.isdir(path) and args.time is None:
                found = _sets_in(path, args.encoding)
            else:
                found = [(path, path)]
        except Exception as e:
            found = [(path, e)]
        for where, s in found:
            try:
                if isinstance(s, Exception):
                    raise s
                if isinstance(s, tuple):
                    page = _report_opened(*s, args.output)
                else:
                    page = report_set(s, args.output, time=args.time, encoding=args.encoding)
            except Exception as e:  # every set gets a page or one line, never a traceback
                text = _one_line(e)
                # The module's messages begin with the path already.
                text = text[len(where) + 2:] if text.startswith(f"{where}: ") else text
                print(f"cdt report: {where}: {text}", file=err, flush=True)
                status = 1
                continue
            _print_path(page, out)
    return status


def _one_line(e: BaseException) -> str:
    text = " ".join(str(e).split())
    if isinstance(e, (FormatError, OSError, ValueError, KeyError, LookupError)):
        return text or type(e).__name__
    # Not a fault of the file that a message has words for: say what it was.
    return f"no page could be made ({type(e).__name__}: {text})"


def _print_path(path: str, stream) -> None:
    """The path as the file system has it: its own bytes where the stream
    takes bytes, so that a name that is not UTF-8 can be passed on."""
    buffer = getattr(stream, "buffer", None)
    if buffer is None:
        print(path.encode("utf-8", "surrogateescape").decode("utf-8", "replace"), file=stream,
              flush=True)
        return
    stream.flush()
    buffer.write(os.fsencode(path) + b"\n")
    buffer.flush()
