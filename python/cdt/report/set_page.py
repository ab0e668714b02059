"""The HTML of a recording set's page: the summary, the coverage panel and
the pictures a recording's page has, for every probe of every host.

Every text that comes from the files (names, reasons) is escaped here.
"""

from __future__ import annotations

import html
import os
from typing import Any, Dict, List, Optional, Tuple

from .._args import decode as _decode
from .figures import _coverage_picture, _pyplot
from .page import (_Page, _Pictures, _add_pictures, _footer, _following_text, _picture_pieces,
                   _probe_table, _reading_text, _resonance_section, _span_rows, _state_words,
                   _table, _units_text)
from .reduction import _SetReduction
from .texts import _size_text, _time_text

# The per host counts of the coverage table: the key in the counts and its heading.
_COUNTS = (("lines", "Lines"), ("missing", "Missing"), ("time_off", "Time off"),
           ("speed_off", "Speed off"), ("restarts", "Restarts"))


def _host_counts(reduction: _SetReduction, info: Optional[Dict[str, Any]]) -> List[Dict[str, Any]]:
    """Per host its counts: those of the set's info() where it could be
    had, else those of the pass over the lines (without restarts)."""
    if info is not None:
        return info["hosts"]
    return [dict(counts, restarts=None) for counts in reduction.hosts]


def _revolutions_text(counts: Dict[str, Any]) -> str:
    first, last = counts.get("first_rev"), counts.get("last_rev")
    return "none" if first is None else f"{first} to {last}"


def _coverage_table(hosts: List[str], master: str, counts: List[Dict[str, Any]]) -> str:
    head = "".join(f"<th>{h}</th>" for h in ["Host", "Revolutions"] + [t for _, t in _COUNTS])
    rows = [f"<tr>{head}</tr>"]
    for name, c in zip(hosts, counts):
        shown = html.escape(name) + (" (master)" if name == master else "")
        cells = "".join(f"<td>{'?' if c.get(k) is None else c[k]}</td>" for k, _ in _COUNTS)
        rows.append(f"<tr><td>{shown}</td><td>{html.escape(_revolutions_text(c))}</td>{cells}</tr>")
    return f'<table class="coverage">{"".join(rows)}</table>'


def _hosts_table(s, encoding, states: List[str], stopped: Dict[str, Dict[str, Any]]) -> str:
    rows = ["<tr><th>Host</th><th>File</th><th>State</th><th>Reading stopped</th></tr>"]
    for name, path, state in zip(s.hosts, s.files, states):
        shown = html.escape(name) + (" (master)" if name == s.master else "")
        file_text = f"{_decode(os.fsencode(path), encoding)} ({_size_text(os.path.getsize(path))})"
        where = stopped.get(name, {})
        stop_text = _reading_text(state, where)
        state_text = _state_words(state, where.get("lines", 0))
        rows.append(f'<tr><td>{shown}</td><td>{html.escape(file_text)}</td><td><span class="state '
                    f'{state}">{html.escape(state_text)}</span></td>'
                    f"<td>{html.escape(stop_text)}</td></tr>")
    return f"<table>{''.join(rows)}</table>"


def _probes_text(s, info: Optional[Dict[str, Any]], reduction: _SetReduction,
                 state: str = "") -> str:
    """Per host its channels' probes (as a recording's page lists them)
    and the set's keys of its probes."""
    parts = []
    for i, (name, rec) in enumerate(zip(s.hosts, s.recordings)):
        host_info = info["hosts"][i].get("info") if info is not None else None
        parts.append(f"<p><b>{html.escape(name)}</b></p>"
                     + _probe_table(rec, host_info, reduction.probes, state))
    keys = ", ".join(html.escape(k) for k in s.probe_keys) or "none"
    parts.append(f'<p class="small">The set\'s probe keys: {keys}</p>')
    return "".join(parts)


def _compose_set(s, name: str, encoding: Optional[str], states: List[str],
                 stopped: Dict[str, Dict[str, Any]], reduction: _SetReduction,
                 info: Optional[Dict[str, Any]], info_error: Optional[str],
                 pictures: Optional[_Pictures] = None) -> str:
    """The page of an opened recording set `s` as HTML text.

    ``name`` is the set's name (the page's); ``states`` per host "finished",
    "unfinished", "damaged" or "following" (being written); ``stopped`` per
    host name the reason and offset where its reading stopped (while
    following: its follow's state); ``info`` the set's info() (None when it
    could not be had, with ``info_error`` saying why); ``pictures`` the
    picture sections drawn beforehand (None: drawn now).
    """
    bins, totals = reduction.bins, reduction.totals
    plt = _pyplot()
    name = _decode(os.fsencode(name), encoding)
    page = _Page(f"{name}: quick look at a recording set")
    page.add(f"<h1>{html.escape(name)}</h1>")
    counts = _host_counts(reduction, info)
    agree = info["agree"] if info is not None else all(
        not (c["missing"] or c["time_off"] or c["speed_off"]) for c in counts)

    page.section("summary", "Summary")
    rows: List[Tuple[str, str]] = [("Recording time", html.escape(_time_text(s.time))),
                                   ("Master", html.escape(s.master)),
                                   ("Hosts", _hosts_table(s, encoding, states, stopped))]
    configured = [h.get("name", "?") for h in s.recordings[0].configuration.get("hosts", [])]
    absent = [h for h in configured if h not in s.hosts]
    if absent:
        rows.append(("Hosts without a file", html.escape(", ".join(absent))))
    rows += _span_rows(reduction)
    rows.append(("Lines of the set", f"{totals['lines']} ({totals['unsync']} not synchronised to "
                                     "the shaft, by the master's Sync)"))
    rows.append(("Hosts agree", "yes: every host has every set line, none off in time or speed"
                 if agree else "<b>no</b>: see the coverage below"))
    if info_error:
        rows.append(("Counts", html.escape(f"not from the set's info ({info_error}): counted "
                                           "from the lines read, restarts unknown")))
    following = "following" in states
    rows.append(("Probes", _probes_text(s, info, reduction, "following" if following else "")))
    page.add(_table(rows))
    if following:
        page.note(_following_text(totals["lines"], pictures))
    elif any(state != "finished" for state in states):
        page.note("Not every file of the set is finished: the pictures show the lines read "
                  "before each host's reading stopped.")
    if not following and totals["lines"]:
        _resonance_section(page, s, plt, reduction)
    _units_text(page, (bins.width, bins.width) if pictures is None else pictures.widths)

    page.section("coverage", "Coverage of the hosts")
    page.add(_coverage_table(s.hosts, s.master, counts))
    page.text("Lines: the host's own. Missing: set lines where the host has none; time off: "
              "where its time differs from the master's by more than half a revolution; speed "
              "off: where its speed differs by more than 1 %. Restarts: times its revolution "
              "counter went back.", "small")
    if totals["lines"] == 0:
        page.note("No lines could be read, so there are no pictures.")
    else:
        _add_pictures(page, pictures, lambda p: _set_picture_sections(p, plt, s, reduction))
    _footer(page)
    return page.html()


def _set_picture_sections(page: _Page, plt, s, reduction: _SetReduction) -> None:
    """The coverage picture and the pictures of every probe."""
    for _, draw in _set_pieces(page, plt, s, reduction):
        draw(page)


def _set_pieces(page: _Page, plt, s, reduction: _SetReduction) -> List[Tuple[str, Any]]:
    """The sections of :func:`_set_picture_sections`, each a picture, as
    (its element id on `page`, a function that adds it to a page)."""
    totals = reduction.totals
    start_text = _time_text(totals["first_time"]) if totals["lines"] else ""

    def coverage(part: _Page) -> None:
        part.image(_coverage_picture(plt, reduction, s.hosts, s.master, start_text),
                   "coverage of the hosts against time")
        part.text("Per host, each row is shaded by the share of a bin's set lines where its line "
                  "is missing, or its time or speed is off (white: none, darkest: all); the top "
                  "row marks the stretches that the master's Sync says are not synchronised.",
                  "small")

    return [("coverage-picture", coverage)] + _picture_pieces(page, plt, reduction, start_text,
                                                               "set")


def _set_live_pieces(s, reduction: _SetReduction) -> List[Tuple[str, Any]]:
    """A set's picture sections, for a live page."""
    return _set_pieces(_Page(""), _pyplot(), s, reduction)
