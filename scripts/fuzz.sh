#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (QM_FUZZ_SECONDS, default 45) from the seed corpus kept in fuzz/corpus.
# New inputs go to a scratch directory, never into the repository.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${QM_FUZZ_SECONDS:-45}
[ -f build/fuzz/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_FUZZ=ON -DQM_WERROR=ON >/dev/null
cmake --build build/fuzz -- --quiet
status=0
for target in build/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  scratch=$(mktemp -d)
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" "$scratch" "fuzz/corpus/$name" -max_total_time="$seconds" -rss_limit_mb=2048 \
       -artifact_prefix="build/fuzz/$name-" 2>build/fuzz/$name.log; then
    tail -40 build/fuzz/$name.log
    status=1
  else
    grep -E '^Done' build/fuzz/$name.log | tail -1 || true
  fi
  rm -rf "$scratch"
done
exit $status
