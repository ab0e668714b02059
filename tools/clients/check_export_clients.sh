#!/usr/bin/env bash
# Real clients of cdt export's files: GNU Octave loads the level-5 MATLAB file
# and the version 7.3 one, and xarray (with Debian's python3) opens the netCDF
# file; each checks the sizes and values against the CSV of the same
# recording (the version 7.3 file against the level-5 one). Then the same
# clients and scipy read recordings whose probe names are not ASCII (UTF-8,
# with a name twice; Windows-1252 bytes) and find the names as text. Last,
# scipy and Octave compare every variable of level-5 files (uncompressed,
# compressed, and without lines) with the CSV.
#   check_export_clients.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
# Without the clients there is nothing to check here: skipped (CTest's
# SKIP_RETURN_CODE); `scripts/check-prereqs.sh --clients` installs them.
if ! command -v octave >/dev/null 2>&1 || ! /usr/bin/python3 -c "import xarray, netCDF4" 2>/dev/null; then
  echo "GNU Octave or xarray with netCDF4 is missing: scripts/check-prereqs.sh --clients installs them"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The CSV, both MATLAB files and the netCDF file of recording $1.
export_all() {
  "$build/driver/cdt2csv" "$1" >/dev/null
  "$build/tools/cdt" export -o out --format mat "$1" >/dev/null
  "$build/tools/cdt" export -o out73 --format mat --mat73 "$1" >/dev/null
  "$build/tools/cdt" export -o out --format netcdf "$1" >/dev/null
}

"$build/tools/cdt" synth --revolutions 40 --probes 2 --blades 6 --extras 0 rec >/dev/null
input=$(ls rec/*.cdt)
name=$(basename "$input" .cdt)
export_all "$input"

# Octave: sizes, and every RMS and blade DNS value of Probe101 printed as
# the CSV prints it ("%.8g") against the CSV's own cells.
octave --no-gui --no-window-system --quiet --eval "
  s = load('out/$name.mat');
  lines = strsplit(strtrim(fileread('$name.csv')), char(10));
  assert(size(s.time), [40 1]);
  assert(isa(s.speed, 'single') && isa(s.sync, 'logical'));
  p = s.probes.Probe101;
  assert(strcmp(p.name, 'Probe101'));
  assert(size(p.blade_dns), [40 6]);
  assert(isequal(double(s.start_rev), (1:40)'));
  for i = 1:40
    cells = strsplit(lines{i + 1}, ',');
    assert(strcmp(sprintf('%.8g', double(p.rms(i))), cells{6}));
    for b = 1:6
      assert(strcmp(sprintf('%.8g', double(p.blade_dns(i, b))), cells{7 + b}));
    end
  end
  printf('octave: %s loads, %d lines, values equal to the CSV\\n', '$name.mat', numel(s.time));
"

# Octave reads a version 7.3 file as plain HDF5: the arrays and their values
# but not MATLAB's classes (single comes back as double, char as UTF-16 codes).
octave --no-gui --no-window-system --quiet --eval "
  a = load('out/$name.mat');
  b = load('out73/$name.mat');
  assert(size(b.time), [40 1]);
  for v = {'time', 'speed', 'sync', 'start_rev', 'end_rev'}
    assert(isequal(double(a.(v{1})), double(b.(v{1}))));
  end
  assert(strcmp(char(b.configuration), a.configuration));
  for f = fieldnames(a.probes)'
    p = a.probes.(f{1});
    q = b.probes.(f{1});
    assert(strcmp(char(q.name), p.name) && strcmp(char(q.stage), p.stage));
    for v = {'blades', 'rms', 'dns', 'blade_dns', 'blade_toa'}
      assert(isequaln(double(p.(v{1})), double(q.(v{1}))));
    end
  end
  printf('octave: %s (version 7.3) loads, %d lines, values equal to level 5\\n', '$name.mat', numel(b.time));
"

/usr/bin/python3 - "$name" <<'PY'
import sys
import numpy as np
import pandas as pd
import xarray as xr

name = sys.argv[1]
ds = xr.open_dataset(f"out/{name}.nc")
csv = pd.read_csv(f"{name}.csv")
assert ds.sizes["line"] == len(csv) == 40, ds.sizes
dns = ds["Probe102_blade_dns"].values
assert dns.shape == (40, 6) and dns.dtype == np.float32
text = pd.read_csv(f"{name}.csv", dtype=str)
cells = text[[f"Probe102 Blade{b} DNS" for b in range(1, 7)]].to_numpy()
assert all("%.8g" % float(v) == c for v, c in zip(dns.ravel(), cells.ravel()))
assert np.array_equal(ds["start_rev"].values, csv["Start Rev"].to_numpy())
# The Time cell is the time rounded to hundredths of a second.
micros = ds["time"].values.astype("datetime64[us]").astype(np.int64)
cells = pd.to_datetime(csv["Time"]).values.astype("datetime64[us]").astype(np.int64)
assert np.array_equal((micros + 5000) // 10000 * 10000, cells)
# Read as its readers read it: time a decoded datetime coordinate of every
# line variable, exactly the recording's microseconds (the values the
# file holds), the blades a dimension, each variable with its unit.
assert "time" in ds.coords and ds["time"].dtype.kind == "M" and "time" in ds["speed"].coords
raw = xr.open_dataset(f"out/{name}.nc", decode_times=False)
assert np.array_equal(raw["time"].values, micros) and raw["time"].dtype == np.int64
assert ds["Probe102_blade_dns"].dims == ("line", "blade") and list(ds["blade"].values) == list(range(1, 7))
units = {v: ds[v].attrs.get("units") for v in ("speed", "Probe102_blade_toa", "Probe102_blade_dns")}
assert units == {"speed": "rpm", "Probe102_blade_toa": "us", "Probe102_blade_dns": "mm"}, units
assert raw["time"].attrs["units"] == "microseconds since 1970-01-01"
assert all("long_name" in ds[v].attrs for v in ds.variables)
# The CF rules a reader leans on: every coordinate a variable names exists,
# along the variable's own dimensions.
plain = xr.open_dataset(f"out/{name}.nc", decode_coords=False)
for v in plain.variables.values():
    for c in v.attrs.get("coordinates", "").split():
        assert set(plain[c].dims) <= set(v.dims), (v.name, c)
print(f"xarray: {name}.nc opens, {ds.sizes['line']} lines, values equal to the CSV")
PY

# Names outside ASCII: written in UTF-8, one name twice.
"$build/tools/cdt" synth --revolutions 20 --probes 4 --blades 3 --extras 0 --name Uni \
  --probe-names 'Sonde°1,Ωmega,Same,Same' --encoding utf-8 uni >/dev/null
input=$(ls uni/*.cdt)
uni=$(basename "$input" .cdt)
export_all "$input"
# In the CSV each probe has 8 columns (RMS, DNS, 3 blade DNS, 3 blade TOA)
# after the first 5: the second "Same" has its RMS in column 30.
octave --no-gui --no-window-system --quiet --eval "
  s = load('out/$uni.mat');
  b = load('out73/$uni.mat');
  assert(isequal(fieldnames(s.probes)', {'Sonde_1', 'x_mega', 'Same', 'Same_2'}));
  assert(strcmp(s.probes.Sonde_1.name, 'Sonde°1') && strcmp(s.probes.x_mega.name, 'Ωmega'));
  assert(strcmp(s.probes.Same_2.name, 'Same'));
  assert(isequal(double(b.probes.x_mega.name(:)'), [937 109 101 103 97]));
  lines = strsplit(strtrim(fileread('$uni.csv')), char(10));
  for i = 1:20
    cells = strsplit(lines{i + 1}, ',');
    assert(strcmp(sprintf('%.8g', double(s.probes.Same_2.rms(i))), cells{30}));
  end
  printf('octave: %s loads, names outside ASCII as text, the second Same apart\\n', '$uni.mat');
"

# A name beyond U+FFFF: readers count a UTF-16 surrogate pair differently, so
# the text must load in both as the one name it is.
"$build/tools/cdt" synth --revolutions 20 --probes 1 --blades 3 --extras 0 --name Emoji \
  --probe-names 'emoji🙂' --encoding utf-8 emoji >/dev/null
"$build/tools/cdt" export -o out --format mat emoji/*.cdt >/dev/null
emoji=$(basename emoji/*.cdt .cdt)
octave --no-gui --no-window-system --quiet --eval "
  s = load('out/$emoji.mat');
  assert(strcmp(s.probes.emoji_.name, 'emoji🙂'));
  printf('octave: %s loads, a name beyond U+FFFF as text\\n', '$emoji.mat');
"
/usr/bin/python3 -c "
import scipy.io
mat = scipy.io.loadmat('out/$emoji.mat')['probes'][0, 0]
assert mat['emoji_'][0, 0]['name'][0] == 'emoji🙂', mat['emoji_'][0, 0]['name']
print('scipy: $emoji.mat loads, a name beyond U+FFFF as text')
"

"$build/tools/cdt" synth --revolutions 20 --probes 2 --blades 3 --extras 0 --name Cp \
  --probe-names 'Sonde Süd,Prüf' cp >/dev/null
input=$(ls cp/*.cdt)
cp=$(basename "$input" .cdt)
"$build/driver/cdt2csv" "$input" >/dev/null
"$build/tools/cdt" export -o out --format mat "$input" >/dev/null
"$build/tools/cdt" export -o out --format netcdf "$input" >/dev/null

/usr/bin/python3 - "$uni" "$cp" <<'PY'
import sys
import numpy as np
import pandas as pd
import scipy.io
import xarray as xr

uni, cp = sys.argv[1:]
ds = xr.open_dataset(f"out/{uni}.nc")
assert ds["Sonde_1_rms"].attrs["probe"] == "Sonde°1", ds["Sonde_1_rms"].attrs
assert ds["x_mega_rms"].attrs["probe"] == "Ωmega"
csv = pd.read_csv(f"{uni}.csv", dtype=str)  # the second "Same RMS" is "Same RMS.1"
assert all("%.8g" % v == c for v, c in zip(ds["Same_2_rms"].values, csv["Same RMS.1"]))
mat = scipy.io.loadmat(f"out/{uni}.mat")["probes"][0, 0]
assert [mat[f][0, 0]["name"][0] for f in mat.dtype.names] == ["Sonde°1", "Ωmega", "Same", "Same"]
assert all("%.8g" % v == c for v, c in zip(mat["x_mega"][0, 0]["rms"].ravel(), csv["Ωmega RMS"]))

# Windows-1252 bytes: the CSV keeps them, the netCDF and MATLAB files hold text.
csv = pd.read_csv(f"{cp}.csv", dtype=str, encoding="cp1252")
ds = xr.open_dataset(f"out/{cp}.nc")
assert ds["Sonde_S_d_rms"].attrs["probe"] == "Sonde Süd"
assert all("%.8g" % v == c for v, c in zip(ds["Pr_f_rms"].values, csv["Prüf RMS"]))
mat = scipy.io.loadmat(f"out/{cp}.mat")["probes"][0, 0]
assert mat["Pr_f"][0, 0]["name"][0] == "Prüf"
print(f"xarray, scipy: {uni} and {cp} hold their names as text, values equal to the CSV")
PY

# Every variable of level-5 files against the CSV: Windows-1252 names, one
# twice, stages of 3 and 2 blades, a cut last record (its line has empty
# cells, NaN in the file), recorded NaNs (the CSV's nan, NaN in the file
# too: MATLAB has no null), and a window without lines. Then the netCDF
# file of the same recording: its fill value exactly where a cell is empty,
# NaN where it is nan.
"$build/tools/cdt" synth --revolutions 30 --probes 4 --stages 2 --blades 3,2 --extras 0 --damage \
  --nan-cells 3 --name Odd --probe-names 'Sonde Süd,Same,Same,Other' odd >/dev/null
input=$(ls odd/*.cdt)
odd=$(basename "$input" .cdt)
"$build/driver/cdt2csv" "$input" >/dev/null
"$build/tools/cdt" config "$input" >"$odd.cfg"
"$build/tools/cdt" export -o five --format mat "$input" >/dev/null 2>&1
"$build/tools/cdt" export -o zip --format mat --compress 1 "$input" >/dev/null 2>&1
"$build/tools/cdt" export -o none --format mat --revolutions 900:999 "$input" >/dev/null 2>&1
"$build/tools/cdt" export -o five --format netcdf "$input" >/dev/null 2>&1

/usr/bin/python3 - "$odd" <<'PY'
import csv
import sys
import numpy as np
import scipy.io

odd = sys.argv[1]
with open(f"{odd}.csv", encoding="cp1252", newline="") as f:
    rows = list(csv.reader(f))[1:]
config = open(f"{odd}.cfg", encoding="cp1252", newline="").read()
probes = [("Sonde_S_d", "Sonde Süd", "Stage1", 3), ("Same", "Same", "Stage2", 2),
          ("Same_2", "Same", "Stage1", 3), ("Other", "Other", "Stage2", 2)]
assert rows[-1][-1] == "", "the cut record leaves empty cells"
assert sum(c == "nan" for r in rows for c in r[1:]) > 10, "recorded NaNs"


def cell(v, digits=8):
    return "nan" if np.isnan(v) else "%.*g" % (digits, v)


def same(found, cells):
    """MATLAB's values as the CSV's cells: NaN stands for an empty cell too."""
    return len(found) == len(cells) and all(
        f == c or (f == "nan" and c in ("", "-nan")) for f, c in zip(found, cells))


def check(path, rows):
    m = scipy.io.loadmat(path)
    assert sorted(k for k in m if not k.startswith("__")) == sorted(
        ["time", "speed", "sync", "start_rev", "end_rev", "configuration", "units", "probes"])
    units = m["units"][0, 0]
    assert units["speed"][0].startswith("revolutions per minute"), units["speed"]
    assert units["blade_toa"][0].startswith("µs after"), units["blade_toa"]
    assert "posixtime" in units["time"][0], units["time"]
    n = len(rows)
    # scipy gives a logical array as its uint8 values.
    kinds = {"time": np.float64, "speed": np.float32, "sync": np.uint8, "start_rev": np.uint64,
             "end_rev": np.uint64}
    for k, t in kinds.items():
        assert m[k].dtype == t and m[k].shape == (n, 1), (path, k, m[k].dtype, m[k].shape)
    micros = np.round(m["time"].ravel() * 1e6).astype(np.int64)
    times = [np.datetime64(r[0].replace(" ", "T"), "us").astype(np.int64) for r in rows]
    assert np.array_equal((micros + 5000) // 10000 * 10000, np.array(times, np.int64)), path
    assert [cell(v, 6) for v in m["speed"].ravel()] == [r[1] for r in rows], path  # never empty
    assert [("Yes" if v else "No") for v in m["sync"].ravel()] == [r[2] for r in rows], path
    assert [str(v) for v in m["start_rev"].ravel()] == [r[3] for r in rows], path
    assert [str(v) for v in m["end_rev"].ravel()] == [r[4] for r in rows], path
    assert m["configuration"][0] == config, path
    s = m["probes"][0, 0]
    assert s.dtype.names == tuple(p[0] for p in probes), (path, s.dtype.names)
    column = 5
    for field, name, stage, blades in probes:
        p = s[field][0, 0]
        assert p.dtype.names == ("name", "stage", "blades", "rms", "dns", "blade_dns",
                                 "blade_toa", "deflection"), p.dtype.names
        assert p["deflection"].size == 0, (path, field)  # not asked for: empty
        assert p["name"][0] == name and p["stage"][0] == stage, (path, field)
        assert p["blades"].dtype == np.float64
        assert np.array_equal(p["blades"], np.arange(1, blades + 1, dtype=float)[None, :])
        shapes = {"rms": (n, 1), "dns": (n, 1), "blade_dns": (n, blades), "blade_toa": (n, blades)}
        for q, shape in shapes.items():
            assert p[q].shape == shape, (path, field, q, p[q].shape)
            assert p[q].dtype == (np.float64 if q == "dns" else np.float32), (path, field, q)
        values = np.hstack([p["rms"], p["dns"], p["blade_dns"], p["blade_toa"]])
        width = 2 + 2 * blades
        for i, r in enumerate(rows):
            assert same([cell(v) for v in values[i]], r[column:column + width]), (path, field, i)
        column += width
    assert all(len(r) == column for r in rows)


check(f"five/{odd}.mat", rows)
check(f"zip/{odd}.mat", rows)
check(f"none/{odd}.mat", [])
raw = open(f"five/{odd}.mat", "rb").read()
packed = open(f"zip/{odd}.mat", "rb").read()
assert raw[128] == 14 and packed[128] == 15 and len(packed) < len(raw) / 2
print(f"scipy: {odd}.mat, uncompressed, compressed and without lines: every variable equals the CSV")

# netCDF: the raw values (no masking) hold the fill value exactly where the
# CSV's cell is empty and NaN where it is nan; decoded, both are NaN.
import xarray as xr

raw = xr.open_dataset(f"five/{odd}.nc", mask_and_scale=False)
decoded = xr.open_dataset(f"five/{odd}.nc")
column, empties = 5, 0
for field, name, stage, blades in probes:
    for q, width in (("rms", 1), ("dns", 1), ("blade_dns", blades), ("blade_toa", blades)):
        v = raw[f"{field}_{q}"]
        fill = v.attrs["_FillValue"]
        assert not np.isnan(fill), (field, q)
        values = v.values.reshape(len(rows), width)
        for i, r in enumerate(rows):
            found = ["" if x == fill else cell(x) for x in values[i]]
            assert found == r[column:column + width], (field, q, i, found)
            empties += found.count("")
        assert np.isnan(decoded[f"{field}_{q}"].values[raw[f"{field}_{q}"].values == fill]).all()
        column += width
assert empties > 0
print(f"xarray: {odd}.nc holds its fill value exactly where the CSV is empty, NaN where it is nan")
PY

# Octave: the same files, each cell printed as the CSV prints it (Octave
# splits UTF-8 text only: the CSV's names recoded).
/usr/bin/python3 -c 'import sys; open(sys.argv[2], "w", encoding="utf-8").write(open(sys.argv[1], encoding="cp1252").read())' \
  "$odd.csv" "$odd.utf8.csv"
octave --no-gui --no-window-system --quiet --eval "
  lines = strsplit(strtrim(fileread('$odd.utf8.csv')), char(10));
  for f = {'five', 'zip', 'none'}
    s = load([f{1} '/$odd.mat']);
    n = numel(s.time);
    assert(n == (numel(lines) - 1) * ~strcmp(f{1}, 'none'));
    assert(isa(s.time, 'double') && isa(s.speed, 'single') && isa(s.sync, 'logical'));
    assert(isa(s.start_rev, 'uint64') && isa(s.end_rev, 'uint64') && ischar(s.configuration));
    assert(isequal(fieldnames(s.probes)', {'Sonde_S_d', 'Same', 'Same_2', 'Other'}));
    assert(strcmp(s.probes.Sonde_S_d.name, 'Sonde Süd') && strcmp(s.probes.Same_2.name, 'Same'));
    for i = 1:n
      cells = strsplit(lines{i + 1}, ',', 'CollapseDelimiters', false);
      text = sprintf('%.6g', double(s.speed(i)));
      if isnan(s.speed(i)) text = 'nan'; end
      assert(strcmp(text, cells{2}));
      assert(s.sync(i) == strcmp(cells{3}, 'Yes'));
      assert(strcmp(sprintf('%d', s.start_rev(i)), cells{4}) && strcmp(sprintf('%d', s.end_rev(i)), cells{5}));
      c = 6;
      for p = fieldnames(s.probes)'
        q = s.probes.(p{1});
        v = [double(q.rms(i)), q.dns(i), double(q.blade_dns(i, :)), double(q.blade_toa(i, :))];
        assert(isequal(size(q.blade_dns), [n, numel(q.blades)]));
        for k = 1:numel(v)
          % NaN is the empty cell's value and the recorded NaN's alike.
          if isnan(v(k))
            assert(any(strcmp(cells{c}, {'', 'nan', '-nan'})));
          else
            assert(strcmp(sprintf('%.8g', v(k)), cells{c}));
          end
          c = c + 1;
        end
      end
    end
  end
  printf('octave: %s.mat, uncompressed, compressed and without lines: every cell equals the CSV\\n', '$odd');
"

# A recording set of two hosts, host 2 dropping every 5th revolution: the
# netCDF file (xarray) and both MATLAB files (Octave) hold the set CSV's
# values, and each host's status.
"$build/tools/cdt" synth --hosts 2 --revolutions 30 --probes 2 --blades 3 --extras 0 \
  --drop 2:5 set >/dev/null
"$build/tools/cdt" export --set -o setout set >/dev/null
"$build/tools/cdt" export --set -o setout --format netcdf set >/dev/null
"$build/tools/cdt" export --set -o setout --format mat set >/dev/null
"$build/tools/cdt" export --set -o setout73 --format mat --mat73 set >/dev/null
setname=Rig1.0000.2011-05-06.12-30-00

/usr/bin/python3 - "$setname" <<'PY'
import sys
import pandas as pd
import xarray as xr

name = sys.argv[1]
ds = xr.open_dataset(f"setout/{name}.nc")
csv = pd.read_csv(f"setout/{name}.csv", dtype=str, keep_default_na=False)
assert ds.sizes["line"] == len(csv) == 30, (ds.sizes, len(csv))
for host in ("Daq1", "Daq2"):
    assert [str(v) for v in ds[f"{host}_Status"].values] == list(csv[f"{host} Status"]), host
assert (csv["Daq2 Status"] == "1").sum() == 6
assert ds["time"].dtype.kind == "M" and "time" in ds["Probe101_blade_dns"].coords
assert ds["Probe101_blade_dns"].dims == ("line", "blade")
for probe in ("Probe101", "Probe103"):
    cells = ["" if v != v else "%.8g" % v for v in ds[f"{probe}_blade_dns"].values[:, 1]]
    assert cells == list(csv[f"{probe} Blade2 DNS"]), probe
assert ds.attrs["sources"].split("\n") == [f"set/Rig1.0000.Daq{h}.{name[10:]}.cdt" for h in (1, 2)]
print(f"xarray: the set {name}.nc holds the set CSV's values and statuses")
PY

octave --no-gui --no-window-system --quiet --eval "
  lines = strsplit(strtrim(fileread('setout/$setname.csv')), char(10));
  head = strsplit(lines{1}, ',');
  s = load('setout/$setname.mat');
  b = load('setout73/$setname.mat');
  assert(isa(s.Daq2_Status, 'uint8') && isequal(size(s.Daq2_Status), [numel(lines) - 1, 1]));
  assert(isequal(double(b.Daq2_Status), double(s.Daq2_Status)));
  rms = find(strcmp(head, 'Probe103 RMS'));
  st = find(strcmp(head, 'Daq2 Status'));
  for i = 1:numel(lines) - 1
    cells = strsplit(lines{i + 1}, ',', 'CollapseDelimiters', false);
    assert(strcmp(sprintf('%d', s.Daq2_Status(i)), cells{st}));
    text = sprintf('%.8g', double(s.probes.Probe103.rms(i)));
    if isnan(s.probes.Probe103.rms(i)) text = ''; end
    assert(strcmp(text, cells{rms}));
    assert(isequaln(double(b.probes.Probe103.rms(i)), double(s.probes.Probe103.rms(i))));
  end
  printf('octave: the set %s.mat (level 5 and 7.3) holds the set CSV''s values and statuses\\n', '$setname');
"
