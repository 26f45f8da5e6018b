#!/usr/bin/env bash
# Sets everything up, builds, and runs the launcher under Wine in Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
bash scripts/wine-run.sh xvfb-run -a -s "-screen 0 1024x768x24" python3 tests/e2e/demo.py
