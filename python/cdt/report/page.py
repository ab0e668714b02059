"""The page's HTML: the summary table, a section per picture and the notes.

Every text that comes from the file (names, reasons) is escaped here; the
pictures arrive as base64 PNG text from :mod:`.figures`.
"""

from __future__ import annotations

import datetime as _dt
import html
import os
import re
from typing import Any, Dict, List, Optional, Tuple

import numpy as np

from .._args import decode as _decode
from .figures import (_curves_text, _probe_picture, _profiles_picture, _pyplot, _speed_picture,
                      _toa_picture)
from .reduction import _MEAN_LINES, _PTP_LINES, _peaks, _ProbeReduction, _Reduction
from .stages import _stage_pictures, _units_rows
from .texts import _duration_text, _size_text, _time_text

_STYLE = """
body { font-family: sans-serif; margin: 1.5em auto; max-width: 1060px; color: #222; }
h1 { font-size: 1.35em; word-break: break-all; }
h2 { font-size: 1.1em; margin-top: 1.6em; border-bottom: 1px solid #ccc; overflow-wrap: anywhere; }
td { overflow-wrap: anywhere; }
table { border-collapse: collapse; font-size: 0.9em; }
th, td { text-align: left; padding: 2px 10px 2px 0; vertical-align: top; }
th { color: #555; font-weight: normal; white-space: nowrap; }
.state { font-weight: bold; padding: 1px 6px; border-radius: 3px; }
.finished { background: #d8f0d8; } .following { background: #d8e8f8; } .unfinished { background: #fff0c0; } .damaged { background: #f8d0d0; }
.note { background: #fff6d6; border-left: 4px solid #e0b000; padding: 6px 10px; }
img { max-width: 100%; display: block; margin: 0.5em 0; }
.small { color: #666; font-size: 0.85em; }
"""

# The summary's words for the recording's state.
_STATE_TEXT = {
    "finished": "finished",
    "following": "being written",
    "unfinished": "being written (never finished): read to its last whole record",
    "damaged": "damaged: reading stopped before the end of the records",
}


class _Pictures:
    """The picture sections of a live page, drawn beforehand and apart: their
    HTML, the fewest lines one of them shows (0: one is not drawn yet) and
    the least and greatest width of their bins."""

    def __init__(self, text: str = "", lines: int = 0, widths: Tuple[int, int] = (1, 1)):
        self.html, self.lines, self.widths = text, lines, widths


def _state_words(state: str, lines: int) -> str:
    """The summary's words for a recording's state; one being written says
    how far it has come."""
    if state == "following":
        return f"being written: {lines} lines so far"
    return _STATE_TEXT[state]


def _reading_text(state: str, where: Dict[str, Any]) -> str:
    """Where reading stopped, or for a file being written how far it has been
    read (`where`: its follow's state)."""
    if state == "following":
        return (f"{where.get('records', 0)} whole records so far, to byte "
                f"{where.get('position', 0)}")
    reason = where.get("reason", "unknown")
    offset = where.get("offset")
    return f"{reason}, at byte {offset}" if offset is not None else reason


class _Page:
    def __init__(self, title: str):
        self.parts: List[str] = []
        self.title = title
        self.idents: set = set()

    def ident(self, text: str) -> str:
        """A unique element id for the text: its whitespace (not allowed in
        an id) as "_", and a number after it where that is taken."""
        base = re.sub(r"\s", "_", text)
        ident, n = base, 1
        while ident in self.idents:
            n += 1
            ident = f"{base}-{n}"
        self.idents.add(ident)
        return ident

    def add(self, text: str) -> None:
        self.parts.append(text)

    def section(self, ident: str, title: str) -> None:
        self.parts.append(f'<h2 id="{html.escape(ident)}">{html.escape(title)}</h2>')

    def image(self, data: str, alt: str) -> None:
        self.parts.append(f'<img alt="{html.escape(alt)}" src="data:image/png;base64,{data}">')

    def note(self, text: str) -> None:
        self.parts.append(f'<p class="note">{html.escape(text)}</p>')

    def text(self, text: str, cls: str = "") -> None:
        c = f' class="{cls}"' if cls else ""
        self.parts.append(f"<p{c}>{html.escape(text)}</p>")

    def html(self) -> str:
        return ("<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                f"<title>{html.escape(self.title)}</title><style>{_STYLE}</style></head><body>\n"
                + "\n".join(self.parts) + "\n</body></html>\n")


def _table(rows: List[Tuple[str, str]]) -> str:
    body = "".join(f"<tr><th>{html.escape(k)}</th><td>{v}</td></tr>" for k, v in rows)
    return f"<table>{body}</table>"


def _compose(rec, path: str, encoding: Optional[str], state: str, stopped: Dict[str, Any],
             reduction: _Reduction, info: Optional[Dict[str, Any]], info_error: Optional[str],
             profiles, pictures: Optional[_Pictures] = None) -> str:
    """The page of a recording as HTML text.

    ``state`` is "finished", "unfinished", "damaged" or "following" (being
    written); ``stopped`` the reason and offset where reading stopped (while
    following: the follow's state); ``info`` what ``cdt info`` tells (None
    when it could not, with ``info_error`` saying why); ``profiles`` the
    profile records to draw, a text why they are left out, or None;
    ``pictures`` the picture sections drawn beforehand (None: drawn now).
    """
    bins, probes, totals = reduction.bins, reduction.probes, reduction.totals
    plt = _pyplot()
    # The file's name and path as the page shows them: their bytes decoded
    # like the names inside the file.
    name = _decode(os.fsencode(os.path.basename(path)), encoding)
    shown_path = _decode(os.fsencode(path), encoding)
    page = _Page(f"{name}: quick look")
    page.add(f"<h1>{html.escape(name)}</h1>")
    start_text = _time_text(totals["first_time"]) if totals["lines"] else ""

    page.section("summary", "Summary")
    state_text = _state_words(state, totals["lines"])
    rows: List[Tuple[str, str]] = [("State", f'<span class="state {state}">{html.escape(state_text)}</span>')]
    rows.append(("File", html.escape(f"{shown_path} ({_size_text(os.path.getsize(path))})")))
    rows += _span_rows(reduction)
    rows.append(("Lines (as the CSV)", f"{totals['lines']} ({totals['unsync']} not synchronised to the shaft)"))
    hosts = [h.get("name", "?") for h in rec.configuration.get("hosts", [])]
    host_text = ", ".join(f"<b>{html.escape(h)}</b> (this file)" if i == rec.host_index else html.escape(h)
                          for i, h in enumerate(hosts))
    rows.append(("Hosts", host_text or "none"))
    rows.append(("Probes", _probe_table(rec, info, probes, state)))
    if info is not None:
        rows.append(("Records", html.escape(_records_text(info.get("records", {})))))
    if info_error:
        rows.append(("Records", html.escape(f"not counted: {info_error}")))
    stop_text = _reading_text(state, stopped)
    rows.append(("Read so far" if state == "following" else "Reading stopped",
                 html.escape(stop_text)))
    page.add(_table(rows))
    if state == "following":
        page.note(_following_text(totals["lines"], pictures))
    elif state != "finished":
        page.note(f"This recording is {state_text}. The pictures show the {totals['lines']} lines "
                  f"read before reading stopped ({stop_text}).")
    if state != "following" and totals["lines"]:
        _resonance_section(page, rec, plt, reduction)
    _units_text(page, (bins.width, bins.width) if pictures is None else pictures.widths)

    if totals["lines"] == 0:
        page.note("No lines could be read, so there are no pictures.")
    else:
        _add_pictures(page, pictures, lambda p: _picture_sections(p, plt, reduction, start_text,
                                                                 "file"))
        _profiles_section(page, plt, profiles)
    _footer(page)
    return page.html()


def _following_text(lines: int, pictures: Optional[_Pictures]) -> str:
    shown = pictures.lines if pictures is not None else lines
    text = (f"This recording is being written: {lines} lines so far. Its pictures are drawn "
            "one at a time as it grows, each of the lines there are when it is drawn")
    if shown:
        text += f" (the oldest of its first {shown} lines)"
    else:
        text += " (not all of them are drawn yet)"
    return text + ". The resonances are analysed once it is finished."


def _add_pictures(page: "_Page", pictures: Optional[_Pictures], draw) -> None:
    """The picture sections: those drawn beforehand, else drawn now by
    `draw` (given the page)."""
    if pictures is None:
        draw(page)
    else:
        page.add(pictures.html)


def _file_pieces(reduction: _Reduction) -> List[Tuple[str, Any]]:
    """A recording's picture sections, for a live page (see :func:`_picture_pieces`)."""
    totals = reduction.totals
    start_text = _time_text(totals["first_time"]) if totals["lines"] else ""
    return _picture_pieces(_Page(""), _pyplot(), reduction, start_text, "file")


def _resonance_section(page: "_Page", source, plt, reduction: _Reduction) -> None:
    """The table of blade resonances that ``cdt analyse`` finds in the
    recording (or set) `source`, at the top of the page, and per stage its
    Campbell diagram and tip deflection amplitude against speed: the answer
    the recording is opened for. A recording the analysis cannot take (no
    times of arrival, no stage geometry) says why instead."""
    page.section("resonances", "Blade resonances")
    try:
        table = source.resonances()
    except Exception as e:  # the page is still worth having without them
        page.note(f"Not analysed: {e}")
        return
    if len(table) == 0:
        page.text("No blade resonance found: no blade's tip deflection rises clearly above "
                  "its own noise in this recording.")
    else:
        _resonance_table(page, table)
    bins = reduction.bins
    speed_range = (float(np.nanmin(bins.get("speed.min"))), float(np.nanmax(bins.get("speed.max"))))
    _stage_pictures(page, plt, source, table, speed_range, reduction.totals)


def _resonance_table(page: "_Page", table) -> None:
    head = ("Stage", "Blade", "Engine order", "Speed (rpm)", "f<sub>n</sub> (Hz)",
            "Amplitude (mm, 0-peak)", "Damping ratio ζ", "Orders the probes cannot tell apart")
    rows = []
    for r in table.itertuples(index=False):
        aliases = ", ".join(str(k) for k in r.alias_candidates) or "none"
        cells = (html.escape(str(r.stage)), str(r.blade), str(r.engine_order),
                 f"{r.speed_rpm:.1f}", f"{r.frequency_hz:.2f}", f"{r.amplitude:.4g}",
                 f"{r.damping_ratio:.4f}", html.escape(aliases))
        rows.append("<tr>" + "".join(f"<td>{c}</td>" for c in cells) + "</tr>")
    page.add("<table><tr>" + "".join(f"<th>{h}</th>" for h in head) + "</tr>" + "".join(rows)
             + "</table>")
    page.add('<p class="small">From the tip deflections: x = R·wrap(α − Ω·TOA), R half the '
             "stage's diameter, each blade zeroed by a quadratic in speed; the engine order by a "
             "circumferential fit over the stage's probes, f<sub>n</sub>, ζ and the amplitude by "
             "a single-degree-of-freedom fit; the speed is 60·f<sub>n</sub>/EO (as "
             "<code>cdt analyse</code>). Amplitudes are in the stage diameter's unit, the "
             "installation's clearance unit: millimetres on real installations.</p>")


def _span_rows(reduction: _Reduction) -> List[Tuple[str, str]]:
    """The summary's rows of the lines' span: times, duration, revolutions
    and speeds (none without lines)."""
    bins, totals = reduction.bins, reduction.totals
    if not totals["lines"]:
        return []
    span = (totals["last_time"] - totals["first_time"]) / 1e6
    count = totals["last_rev"] - totals["first_rev"] + 1
    lo, hi = np.nanmin(bins.get("speed.min")), np.nanmax(bins.get("speed.max"))
    return [("Time span", html.escape(f"{_time_text(totals['first_time'])} to "
                                      f"{_time_text(totals['last_time'])}")),
            ("Duration", html.escape(_duration_text(float(span)))),
            ("Revolutions", html.escape(f"{totals['first_rev']} to {totals['last_rev']} ({count})")),
            ("Speed range", html.escape(f"{lo:.1f} to {hi:.1f} rpm"))]


def _units_text(page: "_Page", widths: Tuple[int, int]) -> None:
    """Where the numbers come from: the recorder's units, as every output
    of cdt says them, and how the pictures reduce the lines."""
    page.add('<details class="small" open><summary>Units: every number is shown as recorded, '
             "never scaled; lengths are in the installation's clearance unit (mm on real "
             "installations)</summary>" + _units_rows() + "</details>")
    page.text("Each picture against time reduces the lines to what its pixels can show: "
              f"bins of {_widths_text(widths)} consecutive line(s), drawn as their minimum to "
              "maximum (band) and mean (line).", "small")


def _widths_text(widths: Tuple[int, int]) -> str:
    lo, hi = widths
    return str(lo) if lo == hi else f"{lo} to {hi}"


def _picture_sections(page: "_Page", plt, reduction: _Reduction, start_text: str, source: str) -> None:
    """The speed, every probe's DNS and RMS, and every probe's TOA sections
    (`source` names where a probe without records has none: "file", "set")."""
    for _, draw in _picture_pieces(page, plt, reduction, start_text, source):
        draw(page)


def _picture_pieces(page: "_Page", plt, reduction: _Reduction, start_text: str,
                    source: str) -> List[Tuple[str, Any]]:
    """The sections of :func:`_picture_sections`, each a picture, as (its
    element id on `page`, a function that adds it to a page), so that a
    live page can redraw them one at a time."""
    bins, probes = reduction.bins, reduction.probes

    def speed(part: "_Page") -> None:
        part.section("speed", "Shaft speed")
        part.image(_speed_picture(plt, bins, start_text), "shaft speed against time")
        part.text("Shaded red: stretches with lines that are not synchronised to the shaft.",
                  "small")

    def probe(ident: str, pr: _ProbeReduction):
        def draw(part: "_Page") -> None:
            part.section(ident, f"Probe {pr.key}")
            if pr.lines_seen == 0:
                part.note(f"{pr.key} has no records in this {source}: its columns are empty.")
            else:
                part.image(_probe_picture(plt, bins, pr, start_text), f"{pr.key} blade DNS and RMS")
        return draw

    def toa(ident: str, pr: _ProbeReduction):
        return lambda part: _toa_section(part, ident, plt, bins, pr, start_text)

    pieces: List[Tuple[str, Any]] = [("speed", speed)]
    for pr in probes.values():
        ident = page.ident(f"probe-{pr.key}")
        pieces.append((ident, probe(ident, pr)))
    for pr in probes.values():
        if pr.lines_seen == 0 or not len(pr.blades) or not pr.toa_seen:
            continue
        ident = page.ident(f"toa-{pr.key}")
        pieces.append((ident, toa(ident, pr)))
    return pieces


def _footer(page: "_Page") -> None:
    page.add(f'<p class="small">Written by cdt.report (python3 -m cdt report) on '
             f'{_dt.datetime.utcnow().strftime("%Y-%m-%d %H:%M")} UTC.</p>')


def _records_text(r: Dict[str, Any]) -> str:
    """``cdt info``'s record counts in a line."""
    by_type = r.get("byType", [])
    parts = [f"{r.get('total', 0)} in all"]
    parts += [f"type {t}: {c}" for t, c in enumerate(by_type) if c]
    parts.append(f"one-revolution {r.get('oneRevolution', 0)}, revolution-range "
                 f"{r.get('revolutionRange', 0)}")
    parts.append(f"profiles: {r.get('plainProfiles', 0)} plain, {r.get('packedProfiles', 0)} packed")
    if r.get("malformed"):
        parts.append(f"malformed: {r['malformed']}")
    return "; ".join(parts)


def _toa_section(page: _Page, ident: str, plt, bins, pr: _ProbeReduction, start_text: str) -> None:
    speed, ptp = pr.deviation.amplitude()
    peaks = _peaks(speed, ptp, pr.blades) if len(speed) else []
    page.section(ident, f"Time of arrival: {pr.key}")
    page.image(_toa_picture(plt, bins, pr, start_text, peaks),
               f"{pr.key} TOA deviations and their amplitude against speed")
    page.text(f"Deviation: the blade's TOA less its mean over the previous {_MEAN_LINES} lines, "
              "both taken at the line's own speed so that the shaft's speed changes do not "
              f"show as vibration. Amplitude: its peak to peak over windows of {_PTP_LINES} "
              "lines, the largest per pixel; "
              f"{_curves_text(len(pr.blades))}. Blank at the start: the first "
              f"{_MEAN_LINES // 2} lines, before a blade has a mean.", "small")
    if peaks:
        items = "".join(f"<li>at {s:.0f} rpm: {n} of {len(pr.blades)} blades; the largest, blade "
                        f"{b}, {a:.3g} µs of TOA peak to peak</li>" for s, b, a, n in peaks)
        page.add("<p>Where the TOA deviations peak (the blades' vibration crossing a resonance; "
                 "the amplitudes in mm are in the resonance table and the stage pictures):</p>"
                 f"<ul class=\"peaks\">{items}</ul>")
    else:
        page.text("No peak stands out of the deviation amplitude.", "small")


def _probe_table(rec, info, probes: Dict[str, _ProbeReduction], state: str = "") -> str:
    records: Dict[int, int] = {}
    if info is not None:
        for h in info.get("records", {}).get("hosts", []):
            if h.get("hostIndex") == rec.host_index:
                for c in h.get("channels", []):
                    records[c["channel"]] = c.get("oneRevolution", 0) + c.get("revolutionRange", 0)
    stages = {s["name"]: s["blades"] for s in rec.configuration.get("stages", [])}
    hosts = rec.configuration.get("hosts", [])
    host = hosts[rec.host_index] if rec.host_index is not None and rec.host_index < len(hosts) else None
    rows = ["<tr><th>Channel</th><th>Probe</th><th>Stage</th><th>Blades</th><th>Blade records</th></tr>"]
    for i, c in enumerate((host or {}).get("channels", [])):
        channel = c.get("channel", i)
        probe = c.get("probe")
        if probe is None:
            rows.append(f"<tr><td>{channel}</td><td colspan=\"4\"><i>no probe</i></td></tr>")
            continue
        stage = c.get("stage")
        blades = stages.get(stage, "") if stage else ""
        # A file being written has its records counted once it is finished.
        unknown = "counted when finished" if state == "following" else "?"
        count = records.get(channel, 0 if info is not None else unknown)
        missing = " <b>(no records)</b>" if count == 0 else ""
        rows.append(f"<tr><td>{channel}</td><td>{html.escape(probe)}</td><td>{html.escape(stage or '')}"
                    f"</td><td>{blades}</td><td>{count}{missing}</td></tr>")
    return f"<table>{''.join(rows)}</table>"


def _profiles_section(page: _Page, plt, profiles) -> None:
    if profiles is None:
        return
    page.section("profiles", "Profile records")
    if isinstance(profiles, str):
        page.text(profiles, "small")
        return
    data, described = _profiles_picture(plt, profiles)
    page.image(data, "profile records overlaid")
    items = "".join(f"<li>{html.escape(d)}</li>" for d in described)
    page.add(f"<p class=\"small\">Shown:</p><ul class=\"small\">{items}</ul>")
