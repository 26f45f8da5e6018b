#!/usr/bin/env bash
# wine-run.sh COMMAND...: runs COMMAND where this machine runs Windows
# programs (scripts/wine-env.sh chooses how, QM_WINE_MODE overrides), with
# QM_WINE_MODE set for the test harness. For example:
#   bash scripts/wine-run.sh xvfb-run -a python3 bench/wine_bench.py
set -euo pipefail
source "$(dirname "$0")/wine-env.sh"
qm_in_wine_mode "$(qm_wine_mode)" "$@"
