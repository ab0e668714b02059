#!/usr/bin/env bash
# Shows that a cdt Debian package is complete: lists it (dpkg -c), unpacks it
# into a throwaway root (dpkg -x) and uses what it holds: both programs on the
# sample recording, every man page, the bash completion, and the Python
# package with the system's interpreter.
#
# scripts/check-deb.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
repo=$(cd "$(dirname "$0")/.." && pwd)
sample=$repo/examples/sample.cdt

fail() {
  echo "check-deb: $*" >&2
  exit 1
}

dpkg-deb --info "$deb" | sed -n '/Package:/p;/Version:/p;/Depends:/p'
dpkg -c "$deb"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"

bin=$root/usr/bin
"$bin/cdt" --version
mkdir "$root/out"
(cd "$root/out" && "$bin/cdt2csv" "$sample") || fail "cdt2csv failed"
[ "$(wc -l <"$root/out/sample.csv")" -gt 1 ] || fail "cdt2csv wrote no lines"
"$bin/cdt" info "$sample" >/dev/null || fail "cdt info failed"

pages=("$root"/usr/share/man/man1/*.1*)
for page in "${pages[@]}"; do
  MANWIDTH=80 man -l "$page" >/dev/null || fail "man -l $(basename "$page") failed"
done
for name in cdt2csv cdt $("$bin/cdt" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z-]*\) .*/cdt-\1/p'); do
  compgen -G "$root/usr/share/man/man1/$name.1*" >/dev/null || fail "no man page for $name"
done
bash -n "$root/usr/share/bash-completion/completions/cdt" || fail "the completion does not parse"

# The library with its CMake package, as a user's project finds it.
cmake -S "$repo/test/install/consumer" -B "$root/consumer" -DCMAKE_PREFIX_PATH="$root/usr" \
  >"$root/consumer.log" 2>&1 && cmake --build "$root/consumer" >>"$root/consumer.log" 2>&1 ||
  { cat "$root/consumer.log"; fail "find_package(cdt) from the package did not build"; }
records=$("$root/consumer/count_records" "$sample") || fail "count_records failed"

site=$(compgen -G "$root/usr/lib/python3*/dist-packages" | head -n 1) || fail "no Python package"
PYTHONPATH=$site PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c \
  "import sys, cdt, cdt.report.command; assert cdt.__file__.startswith(sys.argv[1]); cdt.open(sys.argv[2]).close()" \
  "$site" "$sample" || fail "import cdt failed"
echo "check-deb: $(basename "$deb"): ${#pages[@]} man pages; cdt2csv, cdt, completion, import cdt" \
  "and find_package(cdt) work ($records records in the sample)"
