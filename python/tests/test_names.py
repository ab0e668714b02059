"""Names in the installation's code page, and file names that are not UTF-8."""

import os
from pathlib import Path

import pytest

import cdt
from conftest import CDT2CSV, run


def test_file_named_in_the_code_page_opens_as_bytes_str_and_path(recordings, tmp_path):
    text = recordings["cp1252_names"]  # holds the byte 0xFC, as a surrogate escape
    raw = os.fsencode(text)
    assert b"Pr\xfcfstand" in raw
    frames = [cdt.open(p).to_pandas() for p in (raw, text, Path(text))]
    assert frames[0].equals(frames[1]) and frames[0].equals(frames[2])
    rec = cdt.open(raw)
    assert rec.path == text
    assert rec.configuration["name"] == "Prüfstand"
    assert [c["probe"] for c in rec.configuration["hosts"][0]["channels"]] == rec.probe_names
    info = rec.info()
    assert info["header"]["dataOffset"] == rec.header["data_offset"]
    assert info["configuration"]["name"] == "Prüfstand"
    # The CSV of such a file, converted from Python, is cdt2csv's.
    out = cdt.convert(raw, tmp_path)
    assert os.fsencode(out).endswith(b"Pr\xfcfstand.0000.Daq1.2011-05-06.12-30-00.csv")
    (tmp_path / "ref").mkdir()
    run(CDT2CSV, raw, cwd=tmp_path / "ref")
    assert Path(out).read_bytes() == (tmp_path / "ref" / os.path.basename(out)).read_bytes()


def test_errors_name_a_file_whose_name_is_not_utf8(tmp_path):
    junk = os.path.join(os.fsencode(tmp_path), b"Pr\xfcfstand.cdt")
    with pytest.raises(FileNotFoundError) as missing:
        cdt.open(junk)
    assert missing.value.filename == os.fsdecode(junk)
    with open(junk, "wb") as f:
        f.write(b"not a data file at all" * 3)
    with pytest.raises(cdt.FormatError) as bad:
        cdt.open(junk)
    assert os.fsdecode(junk) in str(bad.value)


def test_a_named_encoding_decodes_every_name(recordings):
    path = recordings["cp1252_names"]
    cyrillic = cdt.open(path, encoding="cp1251")
    assert cyrillic.encoding == "cp1251"
    assert cyrillic.probe_names[0] == "Sonde Sьd" and cyrillic.configuration["name"] == "Prьfstand"
    assert list(cyrillic.read(probes="Sonde Sьd").probes) == ["Sonde Sьd"]
    assert "Sonde Sьd RMS" in cyrillic.to_pandas().columns
    assert cyrillic.info()["configuration"]["name"] == "Prьfstand"
    with pytest.raises(ValueError, match="Pr.*fstand.*utf-8"):
        cdt.open(path, encoding="utf-8")
    utf8 = cdt.open(recordings["utf8_names"])
    assert utf8.probe_names == ["Sonde°1", "Ωmega", "Same", "Same"]
    assert cdt.open(recordings["utf8_names"], encoding="utf-8").probe_names == utf8.probe_names


def test_decode_maps_every_byte():
    assert cdt._args.decode(b"S\xfcd", None) == "Süd"
    assert cdt._args.decode("Süd".encode(), None) == "Süd"
    assert cdt._args.decode(bytes([0x80, 0x81, 0x9d, 0xff]), None) == "€\x81\x9dÿ"
    assert cdt._args.decode(b"S\xfcd", "cp1251") == "Sьd"
