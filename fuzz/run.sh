#!/usr/bin/env bash
# Builds the fuzz targets with clang (address + undefined-behaviour sanitizers, libFuzzer) and
# runs each one for a while from its seed corpus in fuzz/corpus/<target>/.
#
#   fuzz/run.sh [SECONDS] [JOBS] [TARGET...]
#     SECONDS  time per target (default 5)
#     JOBS     targets run side by side (default 1)
#     TARGET   the targets to run (default: all)
#
# New corpus entries go to $FUZZ_BUILD_DIR/corpus/<target>/ (the repository's seeds are only
# read). A crash, leak, time-out or broken check is kept as
# $FUZZ_BUILD_DIR/crashes/<target>/crash-*; the script then fails. To keep a crash as a
# regression test, copy it to fuzz/regressions/<target>/ (the normal build replays that folder).
# Without clang the run is skipped with a message (exit 0), since the normal build needs none.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-5}
jobs=${2:-1}
shift $(( $# > 2 ? 2 : $# ))
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
all=(reply_code reply_stream readln pasv_bytecount unix_list decipher tokenizer
     expand_variables datetime netrc sftp_packets)
targets=("$@")
((${#targets[@]})) || targets=("${all[@]}")

clang=$(command -v clang++ || true)
probe='extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }'
if [[ -z $clang ]] || ! echo "$probe" | "$clang" -x c++ -fsanitize=fuzzer,address,undefined \
     -o /dev/null - 2>/dev/null; then
  echo "fuzz: SKIPPED: clang++ with libFuzzer is not installed (apt-get install clang" \
       "libclang-rt-14-dev, or run scripts/setup.sh)"
  exit 0
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$clang" -DTARNEX_FUZZ=ON \
  -DTARNEX_BUILD_TESTS=OFF -DTARNEX_BUILD_GUI=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_one() {
  local target=$1 work="$build/corpus/$1" crashes="$build/crashes/$1" log="$build/logs/$1.log"
  mkdir -p "$work" "$crashes" "$(dirname "$log")"
  local status=0
  # -timeout: one input that takes longer is a hang; every socket read ends when the feeder
  # has written the input and shut its side, so seconds are plenty.
  "$build/fuzz/fuzz_$target" "$work" "$root/fuzz/corpus/$target" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$crashes/" >"$log" 2>&1 || status=$?
  local runs
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo '?')
  if ((status != 0)); then
    echo "fuzz: $target FAILED after $runs runs (exit $status); see $log and $crashes/"
    grep -E 'check failed|ERROR:|SUMMARY:' "$log" | head -5
    return 1
  fi
  echo "fuzz: $target ok, $runs runs in ${seconds}s"
}

failed=0
pids=()
names=()
for target in "${targets[@]}"; do
  run_one "$target" &
  pids+=($!)
  names+=("$target")
  if ((${#pids[@]} >= jobs)); then
    wait "${pids[0]}" || failed=1
    pids=("${pids[@]:1}")
    names=("${names[@]:1}")
  fi
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit $failed
