#!/usr/bin/env bash
# Runs libFuzzer targets from a fuzz build (clang, -DZORBELIX_FUZZ=ON).
#
#   fuzz/run.sh BUILD-DIR SECONDS [TARGET...]
#
# Each target starts from a copy of its committed corpus (fuzz/corpus/<target>)
# in a temporary folder, so a short run leaves the tree as it was; set
# FUZZ_WORK=DIR to keep the grown corpora, logs and any crash in DIR instead.
# A crash, a sanitizer report, a leak, an input slower than 10 s or a run
# above 2 GB fails the run; the input that did it is left in the work folder
# (crash-*, leak-*, timeout-*, oom-*) and its path is printed.
#
# libFuzzer's random choices start from a fixed seed (FUZZ_SEED, default 1),
# so a run on the same commit tries the same inputs in the same order, as far
# as its time reaches, and CI's verdict does not hang on chance; FUZZ_SEED=0
# lets libFuzzer pick one, for a campaign that should wander further.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$1"
seconds="$2"
shift 2
targets=("$@")
seed="${FUZZ_SEED:-1}"
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_receive fuzz_script fuzz_window fuzz_pure fuzz_cli fuzz_sim)

export QT_QPA_PLATFORM=offscreen
# A smaller quarantine than AddressSanitizer's 256 MB: recent frees are still
# caught, and the leak check libFuzzer runs after inputs that allocate more
# than they free scans far less memory (about twice the executions).
# Freed memory is kept rather than handed back to the system now and then:
# the next input needs the same pages again.
export ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1}:quarantine_size_mb=16:allocator_release_to_os_interval_ms=-1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}"

work="${FUZZ_WORK:-$(mktemp -d "${TMPDIR:-/tmp}/zorbelix-fuzz-XXXXXX")}"
mkdir -p "$work"
work="$(cd "$work" && pwd)"  # the targets change their working folder
status=0
for target in "${targets[@]}"; do
  corpus="$work/$target/corpus"
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  echo "== $target: $seconds s from $(ls "$corpus" | wc -l) inputs, seed $seed"
  if ! (cd "$work/$target" && "$OLDPWD/$build/$target" "$corpus" \
          -seed="$seed" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
          -print_final_stats=1 -artifact_prefix="$work/$target/" \
          -dict="$OLDPWD/fuzz/nsvt.dict" </dev/null >"$work/$target/log.txt" 2>&1); then
    status=1
    echo "!! $target failed; the end of its log ($work/$target/log.txt):"
    tail -40 "$work/$target/log.txt"
    ls "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* \
       "$work/$target"/oom-* 2>/dev/null || true
  fi
  grep -E '^#[0-9]+\s+DONE|stat::number_of_executed_units|stat::peak_rss_mb' "$work/$target/log.txt" || true
done
[ -z "${FUZZ_WORK:-}" ] && [ $status -eq 0 ] && rm -rf "$work"
exit $status
