#!/usr/bin/env bash
# Set-up for a fresh Debian machine, run as root from the source folder.
#   ./setup.sh run    install what is missing, build, and start netboard-config
#   ./setup.sh test   install what is missing, build with the sanitizers, and run every test
#                     (the fuzz harnesses for a short time each)
set -euo pipefail
cd "$(dirname "$0")"

# busybox-static carries the telnetd that the interop tests run (Debian's plain busybox has none).
# The ledger runs on Qt's SQLite and PostgreSQL drivers (libpq-dev: the driver's connection socket,
# which bounds a wait on a silent server; libsqlite3-dev: an export reads a local file's rows on
# the driver's connection); the tests and the stations bench start a PostgreSQL
# server of their own from the postgresql package's binaries. The labels are drawn with cairo and
# libqrencode and printed through libcups; their tests start a CUPS scheduler of their own (cups)
# and read the PDF back with pdftoppm and pdftotext (poppler-utils) and zbarimg (zbar-tools).
packages=(build-essential cmake qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgtest-dev
          fonts-noto-cjk qt6-translations-l10n busybox-static clang-14 libclang-rt-14-dev libqt6sql6-sqlite
          libqt6sql6-psql postgresql libpq-dev libsqlite3-dev libcairo2-dev libqrencode-dev libcups2-dev cups
          poppler-utils zbar-tools)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    if ((${#missing[@]})); then
        export DEBIAN_FRONTEND=noninteractive
        apt-get update -q
        apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

jobs=$(nproc)

# The program, netboard-cli and netboard-sim as the run command starts them: one file at a time,
# so that a source that does not include what it uses fails here. The test command builds them
# the same way first; its unity builds would hide such a source.
build_release() {
    cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DNB_BUILD_TESTS=OFF -DNB_BUILD_BENCH=OFF
    cmake --build build/release -j"$jobs" --target netboard-config netboard-cli netboard-sim
}

case "${1:-}" in
run)
    install_missing
    build_release
    exec build/release/src/netboard-config
    ;;
test)
    install_missing
    build_release
    # These builds start from nothing, so each target's sources are compiled a batch at a time as
    # one unit: Qt's headers are then read once a batch instead of once a file. gold (binutils)
    # links the g++ builds' test programs in about half the time of the default linker.
    unity=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16)
    quick=("${unity[@]}" -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=gold)
    # Everything under AddressSanitizer and UndefinedBehaviorSanitizer.
    cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DNB_SANITIZE=address,undefined \
        "${quick[@]}"
    cmake --build build/asan -j"$jobs"
    ctest --test-dir build/asan --output-on-failure -j"$jobs"
    # The tests of threaded code again under ThreadSanitizer.
    cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DNB_SANITIZE=thread -DNB_BUILD_BENCH=OFF \
        "${quick[@]}"
    cmake --build build/tsan -j"$jobs" --target thread-tests
    ctest --test-dir build/tsan --output-on-failure -L threads -j"$jobs"
    # The fuzz harnesses (clang, libFuzzer), each run for a short time, two at once.
    cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
        -DNB_FUZZ=ON "${unity[@]}"
    cmake --build build/fuzz -j"$jobs"
    ctest --test-dir build/fuzz --output-on-failure -j2
    ;;
*)
    echo "usage: $0 run|test" >&2
    exit 2
    ;;
esac
