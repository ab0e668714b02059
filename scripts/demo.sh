#!/usr/bin/env bash
# Converts the bundled sample recording into demo-output/.
set -euo pipefail
build=${1:-build/release}
if [ ! -x "$build/driver/cdt2csv" ]; then
  echo "cdt2csv is not built yet: the converter is still to come."
  exit 0
fi
