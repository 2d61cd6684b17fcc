#!/usr/bin/env bash
# Fuzzing stage: builds the libFuzzer programs of fuzz/ with clang,
# AddressSanitizer and UndefinedBehaviorSanitizer, writes the seed corpora and
# runs every target for SECONDS (default 60), FUZZ_JOBS (default 2) at a time.
# Fails on any crash, leak, timeout, memory blow-up or sanitizer report; the
# failing input is left in build-fuzz/artifacts/<target>/ and belongs, once
# fixed, in fuzz/regressions/<target>/, which the ordinary tests replay.
#   usage: .ci/fuzz.sh [SECONDS] [TARGET ...]
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
shift || true
jobs=${FUZZ_JOBS:-2}
out=build-fuzz

# clang with its libFuzzer and sanitizer runtimes, and python3 for the seeds.
bash tools/install_packages.sh clang libclang-rt-14-dev python3 cmake make

cmake -S . -B $out -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DVELORIN_FUZZ=ON -DVELORIN_TESTS=OFF > $out.log 2>&1 || { cat $out.log; exit 1; }
targets=$(sed -n 's/^set(velorin_fuzz_targets \(.*\)$/\1/p;/^    [a-z_ ]*)$/p' fuzz/CMakeLists.txt |
          tr -d ')' | tr -s ' \n' ' ')
[ $# -gt 0 ] && targets="$*"
cmake --build $out -j"$(nproc)" --target velorin-pitch $(for t in $targets; do echo fuzz_$t; done) \
      >> $out.log 2>&1 || { tail -50 $out.log; exit 1; }
rm -rf $out/seeds
python3 fuzz/make_seeds.py $out/seeds $out/tools/velorin-pitch

run_target() {
    local name=$1 secs=$2 out=$3
    local max_len=4096
    case $name in
        render) max_len=16384 ;;
        pitch|codecs|params) max_len=2048 ;;
    esac
    mkdir -p $out/corpus/$name $out/artifacts/$name
    if ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
       UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
       $out/fuzz/fuzz_$name -max_total_time="$secs" -timeout=10 -rss_limit_mb=2048 \
           -max_len=$max_len -dict=fuzz/dict/$name.dict -close_fd_mask=3 \
           -artifact_prefix=$out/artifacts/$name/ -print_final_stats=1 \
           $out/corpus/$name $out/seeds/$name fuzz/regressions/$name > $out/fuzz_$name.log 2>&1
    then
        local last
        last=$(grep -E '^#[0-9]+' $out/fuzz_$name.log | tail -1)
        local rate
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' $out/fuzz_$name.log)
        echo "fuzz $name: ok, ${secs} s, $rate execs/s; $last"
    else
        echo "fuzz $name: FAILED (log $out/fuzz_$name.log, input in $out/artifacts/$name/)"
        grep -E 'ERROR|SUMMARY|runtime error|Test unit written' $out/fuzz_$name.log | head -20
        return 1
    fi
}
export -f run_target
status=0
printf '%s\n' $targets | xargs -P "$jobs" -I{} bash -c "run_target {} $secs $out" || status=1
[ $status -eq 0 ] && echo "fuzzing: every target ran ${secs} s without a finding"
exit $status
