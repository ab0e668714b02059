#!/usr/bin/env bash
# Remakes the seed corpora in fuzz/corpus/ with the project's own programs:
# tiny recordings from `cdt synth` (every record type, aggregated, packed,
# unfinished, damaged, a second host, a resonance) and copies of one with names to quote
# and names of odd bytes, configuration texts written by the configuration
# writer and by `cdt config`, CSV lines written by cdt2csv, and a few
# hand-written token lines and quoted strings. The corpus of the lines target
# links to that of datafile_csv (so do those of follower and analysis); that
# of selection_text is written by hand.
#
#   fuzz/make_corpus.sh [BUILD_DIR]    (default build/fuzz)
#
# BUILD_DIR must hold tools/cdt, driver/cdt2csv, fuzz/config_text_seeds and
# fuzz/datafile_seeds.
# The same programs give the same files, so the corpus changes only when the
# formats do.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(cd "${1:-build/fuzz}" && pwd)
cdt=$build/tools/cdt
cdt2csv=$build/driver/cdt2csv
config_seeds=$build/fuzz/config_text_seeds
datafile_seeds=$build/fuzz/datafile_seeds
for program in "$cdt" "$cdt2csv" "$config_seeds" "$datafile_seeds"; do
  [ -x "$program" ] || { echo "make_corpus.sh: $program is not built" >&2; exit 1; }
done

corpus=$root/fuzz/corpus
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for target in config_text datafile_csv tokenizer unquote; do
  rm -rf "${corpus:?}/$target"
  mkdir -p "$corpus/$target"
done

# --- Configuration texts ------------------------------------------------------
"$config_seeds" "$corpus/config_text"

# --- Data files -----------------------------------------------------------------
# synth NAME OPTIONS...: the first file cdt synth writes, as NAME.cdt.
synth() {
  local name=$1
  shift
  "$cdt" synth --revolutions 3 --extras 0 "$@" "$work/$name" >/dev/null
  local file
  file=$(find "$work/$name" -name '*.cdt*' | sort | head -n 1)
  cp "$file" "$corpus/datafile_csv/$name.cdt"
}
synth every_type --probes 2 --blades 3 --revolutions 5 --extras 1 --profiles 2
# The plain profile of revolution 4 is synchronised, so it merges.
synth aggregated --probes 2 --blades 3 --revolutions 8 --extras 1 --profiles 4 --aggregate 2
synth two_stages --probes 4 --stages 2 --blades 3,2
synth unfinished --probes 1 --blades 2 --extras 1 --unfinished
synth damaged --probes 1 --blades 2 --extras 1 --damage
# A blade crossing a resonance, so that the analysis target fits one.
synth resonance --probes 3 --blades 1 --revolutions 300 --resonance 8:360:0.005:0.5
"$cdt" synth --hosts 2 --probes 1 --blades 1 --revolutions 2 --extras 0 "$work/hosts" >/dev/null
cp "$(find "$work/hosts" -name '*Daq2*.cdt')" "$corpus/datafile_csv/second_host.cdt"
"$datafile_seeds" "$corpus/datafile_csv/two_stages.cdt" "$corpus/datafile_csv/quoted_names.cdt" \
  "$corpus/datafile_csv/odd_names.cdt"

# The configuration text of the recording with names of odd bytes.
"$cdt" config "$corpus/datafile_csv/odd_names.cdt" >"$corpus/config_text/odd_names.txt"

# --- Token lines ----------------------------------------------------------------
tokens=$corpus/tokenizer
config_text=$work/every_type.txt
"$cdt" config "$corpus/datafile_csv/every_type.cdt" >"$config_text"
head -n 40 "$config_text" >"$tokens/config_head.txt"
awk '/Begin Probe/ { p = 1 } p { print } /End Probe/ { exit }' "$config_text" >"$tokens/probe_block.txt"
grep -m 12 '\[' "$config_text" >"$tokens/indexed_lines.txt" || true
(cd "$work" && "$cdt2csv" "$corpus/datafile_csv/two_stages.cdt" >/dev/null)
head -n 2 "$work/two_stages.csv" >"$tokens/csv_lines.txt"
printf '%s' 'recordings/2011/Rig1.0000.Daq1.2011-05-06.12-30-00.cdt' >"$tokens/path_unix.txt"
printf '%s' 'C:\data\run.cdt\\ D:run' >"$tokens/path_windows.txt"
printf '%s\n' '12  -7 0x1F 017 1e3 -0.25 +42 0b1 1.5e-310 inf nan' \
  '18446744073709551615 18446744073709551616 99999999999 -2147483649 4294967296 -1' \
  >"$tokens/numbers.txt"
# The first four bytes are a separator, a single-character token, an escape
# and a quote character for the rest.
printf '%s' "|;\\'a|b;c\\|d|'e|f'||  | g" >"$tokens/own_rules.txt"

# --- Quoted strings -----------------------------------------------------------------
quoted=$corpus/unquote
n=0
# The values of the string lines the configuration writer wrote, one file
# each: those with escapes, then a few plain ones.
cat "$corpus/config_text/every_block_kind.txt" "$config_text" |
  sed -n 's/^[^=]* = \(".*"\)$/\1/p' | sort -u >"$work/values.txt"
{ grep -F '\' "$work/values.txt" || true; grep -vF '\' "$work/values.txt" | head -n 8; } |
  while IFS= read -r value; do
    n=$((n + 1))
    printf '%s' "$value" >"$quoted/config_value_$n.txt"
  done
printf '%s' '"a\nb\t\r\b\\\"c"' >"$quoted/letter_escapes.txt"
printf '%s' '"\001\0017\1\12\123\1234\777"' >"$quoted/octal_escapes.txt"
printf '%s' '   "spaced"	' >"$quoted/spaced.txt"
printf '%s' '"unterminated\' >"$quoted/lone_escape.txt"
printf '%s' "'%'it%'s%n%101'" >"$quoted/own_characters.txt"

echo "seed corpora written to $corpus:"
du -sh "$corpus"/*
