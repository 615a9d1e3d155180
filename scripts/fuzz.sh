#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ in build-fuzz and runs each on a copy of its seed
# corpus (fuzz/corpus/<Name>/, copied to build-fuzz/corpus-run/<Name>/ so that the
# repository's corpus stays as it is).
#
#   scripts/fuzz.sh [--quick] [--time SECONDS] [--merge] [TARGET...]
#
#   TARGET        a target name (ChangeDecoder, HttpReply, ...); all of fuzz/ when none
#   --time S      run each target for S seconds (default 60)
#   --quick       run each target a fixed, short number of inputs instead (the table
#                 below; every target together in under three minutes on two cores)
#   --merge       afterwards fold the inputs that found new coverage into fuzz/corpus/
#
# A target's dictionary, fuzz/<Name>.dict, is used when there is one.
#
# Prints one line per target: inputs run, coverage ("cov:", code edges), features
# ("ft:") and seconds. Exits non-zero when a target finds a crash, a time-out, a leak or
# runs out of memory; the input that did it is left as build-fuzz/<Name>-crash-<sha1>
# (or -timeout-, -leak-, -oom-), and the target's log as build-fuzz/corpus-run/<Name>.log.
# Reproduce with: build-fuzz/fuzz/fuzz_<Name> build-fuzz/<Name>-crash-<sha1>
#
# Needs clang-14 with libFuzzer and the sanitizer runtimes (Debian clang-14,
# libfuzzer-14-dev, libclang-rt-14-dev: scripts/setup.sh installs them); this script
# installs nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$root/build-fuzz

quick=0
seconds=60
merge=0
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1 ;;
    --time)
      [ $# -ge 2 ] || { echo "--time needs a number of seconds" >&2; exit 2; }
      seconds=$2
      shift
      ;;
    --merge) merge=1 ;;
    -h | --help)
      sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    -*) echo "unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1") ;;
  esac
  shift
done
case "$seconds" in '' | *[!0-9]*) echo "--time takes whole seconds" >&2; exit 2 ;; esac

if [ ${#targets[@]} -eq 0 ]; then
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    targets+=("$name")
  done
fi
for name in "${targets[@]}"; do
  if [ ! -f "fuzz/${name}_fuzz.cpp" ]; then
    echo "no fuzz target $name (fuzz/${name}_fuzz.cpp)" >&2
    exit 2
  fi
done

# Inputs per target with --quick: most targets run 20000; the slow ones (a socket
# exchange, a SQLite store or a session image per input) fewer, so that every target
# together stays under three minutes.
quick_runs() {
  case "$1" in
    ServiceHandler) echo 1500 ;;
    ChangeDecoder | CidIndex | HttpReply) echo 8000 ;;
    *) echo 20000 ;;
  esac
}

# Flags of single targets.
target_flags() {
  case "$1" in
    # The connection thread releases an exchange's objects after the input has returned:
    # checking every input for leaks would take them for leaks and scan the heap each
    # time. Leaks are still reported when the run ends.
    HttpReply) echo "-detect_leaks=0" ;;
  esac
}

echo "== configure and build build-fuzz"
CXX=clang++-14 CC=clang-14 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DZQBLOG_FUZZ=ON >/dev/null
ninja -C "$build" -j2 "${targets[@]/#/fuzz_}"

failed=()
for name in "${targets[@]}"; do
  run=$build/corpus-run/$name
  log=$build/corpus-run/$name.log
  rm -rf "$run"
  mkdir -p "$run"
  if [ -d "fuzz/corpus/$name" ]; then cp -R "fuzz/corpus/$name/." "$run/"; fi
  flags=(-rss_limit_mb=2048 -timeout=10 -print_final_stats=1 -print_funcs=0
         "-artifact_prefix=$build/$name-")
  if [ "$quick" = 1 ]; then
    flags+=("-runs=$(quick_runs "$name")")
  else
    flags+=("-max_total_time=$seconds")
  fi
  [ -f "fuzz/$name.dict" ] && flags+=("-dict=fuzz/$name.dict")
  read -r -a extra <<< "$(target_flags "$name")"
  flags+=(${extra[@]+"${extra[@]}"})

  start=$(date +%s)
  status=0
  "$build/fuzz/fuzz_$name" "${flags[@]}" "$run" >"$log" 2>&1 || status=$?
  elapsed=$(( $(date +%s) - start ))

  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  [ -n "$runs" ] || runs=$(grep -o '^#[0-9]*' "$log" | tail -1 | tr -d '#')
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  verdict=ok
  if [ "$status" != 0 ]; then
    verdict="FAILED (exit $status): $(ls -t "$build/$name"-* 2>/dev/null | head -1)"
    failed+=("$name")
  fi
  printf '%-18s %10s runs   cov: %-6s ft: %-7s %5ss   %s\n' "$name" "${runs:-?}" \
    "${cov:-?}" "${ft:-?}" "$elapsed" "$verdict"

  if [ "$merge" = 1 ] && [ "$status" = 0 ]; then
    mkdir -p "fuzz/corpus/$name"
    "$build/fuzz/fuzz_$name" -merge=1 -rss_limit_mb=2048 -timeout=10 \
      ${extra[@]+"${extra[@]}"} "fuzz/corpus/$name" "$run" >>"$log" 2>&1 ||
      echo "   merge of $name failed, see $log"
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "== failed: ${failed[*]} (inputs in $build, logs in $build/corpus-run)"
  exit 1
fi
echo "== no target found anything"
