#!/usr/bin/env bash
# Installs a build into a temporary root and uses what it installed: a project
# of a library user built with find_package(cdt) and with pkg-config, the
# programs, the Python package, the man pages and the bash completion.
#
# check_install.sh BUILD_DIR CMAKE CXX PYTHON_INSTALL_DIR PYTHON MAN_PAGES
# (PYTHON_INSTALL_DIR empty: no Python package; MAN_PAGES ON or OFF).
set -euo pipefail
build=$1 cmake=$2 cxx=$3 python_dir=$4 python=$5 man_pages=$6
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
sample=$source_dir/examples/sample.cdt

fail() {
  echo "check_install: $*" >&2
  exit 1
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
root=$tmp/root
prefix=/opt/cdt
DESTDIR=$root "$cmake" --install "$build" --prefix "$prefix" >"$tmp/install.log" ||
  { cat "$tmp/install.log"; fail "cmake --install failed"; }
installed=$root$prefix

for file in bin/cdt2csv bin/cdt include/cdt/datafile/data_file.h include/cdt/foundation/counted_string.h \
            share/bash-completion/completions/cdt; do
  [ -f "$installed/$file" ] || fail "$file not installed"
done
config=$(find "$installed" -name cdtConfig.cmake)
pc=$(find "$installed" -name cdt.pc)
[ -n "$config" ] && [ -n "$pc" ] || fail "no cdtConfig.cmake or cdt.pc"
if find "$installed/include" -name '*_test*' | grep -q .; then fail "test headers installed"; fi

# The programs: cdt2csv converts the sample as the build's own does.
mkdir "$tmp/csv" "$tmp/csv-build"
(cd "$tmp/csv" && "$installed/bin/cdt2csv" "$sample" >/dev/null) || fail "installed cdt2csv failed"
(cd "$tmp/csv-build" && "$build/driver/cdt2csv" "$sample" >/dev/null)
cmp -s "$tmp/csv/sample.csv" "$tmp/csv-build/sample.csv" || fail "installed cdt2csv wrote another CSV"
version=$("$installed/bin/cdt" --version)
[ "$version" = "cdt $(cat "$build/generated/version.txt")" ] || fail "cdt --version says '$version'"
ident=$(strings "$installed/bin/cdt2csv" | grep -F "@(#)cdt2csv") || true
[ "$ident" = "@(#)cdt2csv ${version#cdt }" ] || fail "cdt2csv carries the version '$ident'"
records=$("$installed/bin/cdt" info "$sample" | sed -n 's/^  records: \([0-9]*\)$/\1/p')
[ -n "$records" ] || fail "cdt info gave no record count"

# A library user's project, with find_package(cdt) ...
"$cmake" -S "$source_dir/test/install/consumer" -B "$tmp/consumer" -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$installed" -DCMAKE_BUILD_TYPE=Release >"$tmp/consumer.log" 2>&1 &&
  "$cmake" --build "$tmp/consumer" >>"$tmp/consumer.log" 2>&1 ||
  { cat "$tmp/consumer.log"; fail "the find_package(cdt) project did not build"; }
counted=$("$tmp/consumer/count_records" "$sample") || fail "count_records failed"
[ "$counted" = "$records" ] || fail "count_records counted $counted records, cdt info $records"

# ... and with pkg-config (the .pc names the prefix, so the root is a sysroot).
if command -v pkg-config >/dev/null; then
  flags=$(PKG_CONFIG_PATH=$(dirname "$pc") PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs cdt)
  # shellcheck disable=SC2086
  "$cxx" -std=c++20 -o "$tmp/count_records_pc" "$source_dir/test/install/consumer/count_records.cpp" \
    $flags -Wl,-rpath,"$(dirname "$(dirname "$pc")")" || fail "pkg-config flags '$flags' do not build"
  [ "$("$tmp/count_records_pc" "$sample")" = "$records" ] || fail "the pkg-config build counts wrong"
  # The headers' older form, "datafile/data_file.h", for a consumer that puts
  # include/cdt on its path itself.
  sed 's|#include <cdt/datafile/data_file.h>|#include "datafile/data_file.h"|' \
    "$source_dir/test/install/consumer/count_records.cpp" >"$tmp/count_records_old.cpp"
  # shellcheck disable=SC2086
  "$cxx" -std=c++20 -fsyntax-only -I"$installed/include/cdt" $flags "$tmp/count_records_old.cpp" ||
    fail "the headers' older include form does not build"
fi

# The Python package, with the interpreter it was built for.
if [ -n "$python_dir" ]; then
  case $python_dir in
    /*) site=$root$python_dir ;;
    *) site=$installed/$python_dir ;;
  esac
  PYTHONPATH=$site PYTHONDONTWRITEBYTECODE=1 "$python" -c "
import sys, cdt, cdt.report.command
assert cdt.__file__.startswith(sys.argv[1]), cdt.__file__
with cdt.open(sys.argv[2]) as recording:
    pass
" "$site" "$sample" || fail "the installed Python package does not import from $site"
fi

# Man pages: one for cdt2csv, cdt and every cdt command, each rendered by man.
if [ "$man_pages" = ON ]; then
  commands=$("$installed/bin/cdt" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z-]*\) .*/\1/p')
  # shellcheck disable=SC2086
  for page in cdt2csv cdt $(printf 'cdt-%s ' $commands); do
    file=$installed/share/man/man1/$page.1
    [ -f "$file" ] || fail "no man page $page.1"
    text=$(MANWIDTH=80 man -l "$file" 2>"$tmp/man.err") || fail "man -l $page.1 failed"
    [ ! -s "$tmp/man.err" ] || { cat "$tmp/man.err"; fail "man -l $page.1 complained"; }
    grep -q "^NAME" <<<"$text" || fail "$page.1 renders without a NAME section"
  done
fi

# The completion: commands, a command's options, recordings as arguments.
complete_line() {
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); cd "$0"; _cdt
           printf "%s\n" "${COMPREPLY[@]}"' "$tmp" "$installed/share/bash-completion/completions/cdt" "$@"
}
touch "$tmp/a.cdt" "$tmp/b.txt"
[ "$(complete_line cdt inf)" = info ] || fail "completion: no command"
[ "$(complete_line cdt info --j)" = --json ] || fail "completion: no option"
[ "$(complete_line cdt info a)" = a.cdt ] || fail "completion: no recording"
[ "$(complete_line cdt info b)" = "" ] || fail "completion: offers a text file for a recording"
[ "$(complete_line cdt sets --config b)" = b.txt ] || fail "completion: no file for --config"
echo "check_install: all installed parts work"
