"""cdt.convert writes a whole CSV or nothing, and never over its input."""

import errno
import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import cdt
from conftest import synth


def test_convert_refuses_its_own_input_and_replaces_a_link(tmp_path):
    made = synth(tmp_path / "made", "--revolutions", "20", "--blades", "3")[0]
    own = tmp_path / "rec.csv"
    os.replace(made, own)
    before = own.read_bytes()
    with pytest.raises(shutil.SameFileError):
        cdt.convert(own, tmp_path)
    assert own.read_bytes() == before
    # A link standing at the output's name is replaced, not written through.
    target = tmp_path / "elsewhere.txt"
    target.write_text("keep me")
    (tmp_path / "out").mkdir()
    link = tmp_path / "out" / "rec.csv"
    link.symlink_to(target)
    written = cdt.convert(own, tmp_path / "out")
    assert not link.is_symlink() and target.read_text() == "keep me"
    assert open(written, "rb").read().startswith(b"Time,Speed,Sync")
    assert sorted(os.listdir(tmp_path / "out")) == ["rec.csv"]


def test_a_failed_write_raises_its_cause_and_leaves_nothing(recordings, tmp_path):
    # A file size limit fails the write the way a full disk does (EFBIG).
    script = textwrap.dedent("""
        import resource, signal, sys
        import cdt
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        try:
            cdt.convert(sys.argv[1], sys.argv[2])
        except OSError as e:
            print(e.errno, e.filename)
        else:
            print("converted")
    """)
    out = subprocess.run([sys.executable, "-c", script, recordings["plain"], str(tmp_path)],
                         capture_output=True, text=True, check=True).stdout.split()
    assert out[0] == str(errno.EFBIG) and out[1].endswith(".csv")
    assert os.listdir(tmp_path) == []
