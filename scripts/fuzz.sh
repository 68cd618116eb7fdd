#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) in build/fuzz, cuts seeds from
# ../shared/corpus into build/fuzz/seeds, and runs every target for the given seconds
# (default 60), JOBS at a time (default 2). Findings land in build/fuzz/findings/<target>.
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(header data_page table_def long_value index_page usage_map check repair)
jobs="${JOBS:-2}"
build="$root/build/fuzz"
corpus="${TARSOLIN_CORPUS_DIR:-$root/../shared/corpus}"

# clang 14 and its runtime (libFuzzer, sanitizers): only fuzzing needs them, so not deps.sh.
if ! command -v clang++-14 > /dev/null || ! ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a > /dev/null 2>&1; then
  "$root/scripts/deps.sh" > /dev/null
  sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get install -y -qq --no-install-recommends clang-14 libclang-rt-14-dev > /dev/null
fi

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTARSOLIN_FUZZ=ON -DTARSOLIN_ENGINE_ONLY=ON -DBUILD_TESTING=OFF > /dev/null
cmake --build "$build" -j"$jobs" --target fuzz_seeds $(printf 'fuzz_%s ' "${targets[@]}")

rm -rf "$build/seeds"
"$build/fuzz/fuzz_seeds" "$corpus" "$build/seeds"

# The whole-file targets write each input to a file: keep that in memory when possible.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
run_target() {
  local t="$1" work="$build/work/$1" findings="$build/findings/$1"
  mkdir -p "$work" "$findings"
  # The whole repair reaches 50,000 and more features a run: libFuzzer's entropic schedule
  # spends half of each run counting them, so that target runs twice as often without it.
  local schedule=()
  [ "$t" = repair ] && schedule=(-entropic=0)
  # A run over 10 s is a hang (the goal is 1 s on a 1 MB file); inputs stay under 1 MB. libFuzzer
  # keeps its corpus in memory (1.7 GB at 540 MB of repair inputs), so long runs need room.
  ASAN_OPTIONS=detect_leaks=1 "$build/fuzz/fuzz_$t" "$work" "$build/seeds/$t" \
    -dict="$root/fuzz/jet.dict" -max_total_time="$seconds" -timeout=10 -max_len=1048576 \
    -rss_limit_mb=8192 -malloc_limit_mb=2048 -artifact_prefix="$findings/" -print_final_stats=1 "${schedule[@]}" > "$build/fuzz-$t.log" 2>&1 || true
  local stats
  stats=$(grep -E '^(#[0-9]+.*(DONE|cov)|stat::number_of_executed_units|stat::average_exec_per_sec)' "$build/fuzz-$t.log" | tail -3 | tr '\n' ' ')
  echo "$t: $stats"
  ls "$findings" | sed "s|^|  hallazgo: $findings/|"
}
export -f run_target
export build root seconds
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target {}'
