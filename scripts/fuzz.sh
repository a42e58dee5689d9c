#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer, ASan, UBSan) and runs every fuzz
# harness for a bounded time.
#   scripts/fuzz.sh            30 s each
#   scripts/fuzz.sh 300        five minutes each
#   scripts/fuzz.sh 60 pmic_file_fuzz   one harness only
#
# Each harness starts from its seed corpus in tests/fuzz/corpus/<harness>/
# and keeps what it learns in build/fuzz/corpus/<harness>/, so local runs
# build on each other. A crash, a leak, a sanitizer report, an input that
# runs longer than 10 s or a failed check of the harness fails the run; the
# input is written to build/fuzz/artifacts/<harness>/ and the command to
# replay it is printed. Put such an input into the seed corpus once the
# fault is fixed: every build runs the corpora as tests.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
only="${2:-}"

scripts/setup-deps.sh fuzz
cmake --preset fuzz
cmake --build --preset fuzz

# Longest input of each harness: its header and blocks, or a file a little
# larger than any the board ships.
declare -A max_len=(
  [status_reply_fuzz]=2568     # 8-byte header, then 5 status blocks
  [pmic_file_fuzz]=4096
  [config_file_fuzz]=8192
  [firmware_image_fuzz]=12400  # three firmware messages
  [property_set_fuzz]=4096
  [rigdump_decoders_fuzz]=1024  # two status blocks
)

# The harnesses write their sandboxes' files (and sync some of them): on a
# RAM file system that costs nothing.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
# GLib hands its small blocks out of its own caches unless told otherwise,
# which would hide its leaks from LeakSanitizer.
export G_SLICE=always-malloc
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

failed=()
for name in status_reply_fuzz pmic_file_fuzz config_file_fuzz firmware_image_fuzz property_set_fuzz \
            rigdump_decoders_fuzz; do
  if [ -n "$only" ] && [ "$name" != "$only" ]; then
    continue
  fi
  work="build/fuzz/corpus/$name"
  artifacts="build/fuzz/artifacts/$name"
  mkdir -p "$work" "$artifacts"
  args=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len="${max_len[$name]}"
        -print_final_stats=1 -artifact_prefix="$artifacts/")
  if [ -f "tests/fuzz/$name.dict" ]; then
    args+=(-dict="tests/fuzz/$name.dict")
  fi
  echo "=== $name ($seconds s)"
  log="build/fuzz/$name.log"
  if "build/fuzz/fuzz/$name" "${args[@]}" "$work" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    # The last status line: runs, coverage, features, corpus, speed.
    grep -E '^#[0-9]+' "$log" | tail -n 1 || true
    grep -E 'stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' "$log" || true
  else
    failed+=("$name")
    tail -n 60 "$log"
    for a in "$artifacts"/*; do
      [ -e "$a" ] && echo "replay: build/fuzz/fuzz/$name $a"
    done
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "=== fuzzing found faults in: ${failed[*]}"
  exit 1
fi
echo "=== no faults found"
