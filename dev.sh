#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up a Debian machine, builds Tavel and runs it or its tests.
#   ./dev.sh run    set up, build the two programs (in build-run) and start the
#                   program (without a display: run the bundled example
#                   through tavel-batch)
#   ./dev.sh test   set up, build everything (in build) and run every test
#                   (the window test under Xvfb too)
#   ./dev.sh sanitize  build the non-GUI tests with ASan+UBSan and run them
# and the other builds CI makes:
#   ./dev.sh release   Release build (-O3, with the hardening flags of
#                      dpkg-buildflags): every test, then the Debian package
#                      made, checked by lintian, unpacked and its programs run
#                      (tests/package)
#   ./dev.sh tsan      the engine's and the model's tests under ThreadSanitizer
#   ./dev.sh arm64     cross-compile the non-GUI libraries and tests for ARM64,
#                      and run their tests under qemu-aarch64
# The developers' builds (test, sanitize and CI's) turn warnings into errors;
# `run` and a user's own cmake build do not. So `run` builds in a folder of
# its own: `test` after it does not rebuild it with other flags, and `run`
# after `test` does not throw the tests' build away.
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(qt6-base-dev qt6-svg-dev cmake g++ ninja-build libgtest-dev libbenchmark-dev
          nlohmann-json3-dev libzip-dev libpugixml-dev libxlsxwriter-dev locales
          fonts-liberation fonts-dejavu-core xvfb xauth time)

setup() {
  need "${PACKAGES[@]}"
}

# Installs those of the Debian packages named that are missing.
need() {
  local missing=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
      "${missing[@]}" >/dev/null
  fi
}

# Configures the build folder $1 (RelWithDebInfo) with the cmake options after it.
configure() {
  local dir="$1"
  shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

# The flags Debian builds its packages with (fortify, stack protector, relro,
# bind now), for the release build the package is made from. CMake reads no
# CPPFLAGS, so they go with the compiler flags. -g goes: the package is
# stripped, and Release's -O3 comes after their -O2.
debian_flags() {
  local get="DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get"
  local cxx
  cxx="$(env $get CPPFLAGS) $(env $get CXXFLAGS)"
  echo "-DCMAKE_CXX_FLAGS=$(sed -E 's/(^| )-g( |$)/ /' <<<"$cxx")"
  echo "-DCMAKE_EXE_LINKER_FLAGS=$(env $get LDFLAGS)"
}

# The test programs that need no window system.
NON_GUI_TESTS=(tavel_platform_tests tavel_ace_tests tavel_model_tests tavel_graph_tests
               tavel_io_tests tavel_app_tests tavel_run_tests tavel_batch_tests)

# ctest's label expression for the test programs named.
labels() {
  local IFS='|'
  echo "^($*)\$"
}

export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$(mktemp -d /tmp/tavel-xdg.XXXXXX)}"
chmod 700 "$XDG_RUNTIME_DIR" 2>/dev/null || true

case "${1:-}" in
  run)
    setup
    configure build-run
    ninja -C build-run tavel tavel-batch
    mkdir -p out
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
      cd out && exec ../build-run/main/tavel
    fi
    echo "No display: running the bundled example through tavel-batch."
    mkdir -p out/example
    ./build-run/main/tavel-batch --dep _ln_RATE --indep T --indep P --indep CATALYST \
      --flag T=monotone --flag P=monotone --flag CATALYST=unorderable \
      --captures --outdir out/example examples/reaction_rates.dat
    echo
    echo "Results are in $(pwd)/out/example: Tavel.log, Taveltr.xls, pic_*.bmp"
    ;;
  test)
    setup
    configure build -DTAVEL_WERROR=ON
    ninja -C build
    QT_QPA_PLATFORM=offscreen ctest --test-dir build --output-on-failure -j2
    # The same program in a real window under a virtual X server.
    bash tests/smoke/run_smoke.sh build
    ;;
  sanitize)
    setup
    # With Qt, so that the same build's tavel-batch (Qt's image writers and
    # all) is the one tests/batch/run_sanitized.sh drives: one sanitized
    # build of the libraries instead of two. The window tests stay out.
    cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTAVEL_SANITIZE=ON \
      -DTAVEL_WERROR=ON >/dev/null
    ninja -C build-sanitize "${NON_GUI_TESTS[@]}" tavel-batch
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build-sanitize --output-on-failure -j2 -L "$(labels "${NON_GUI_TESTS[@]}")"
    ;;
  release)
    setup
    need dpkg-dev lintian appstream desktop-file-utils man-db
    mapfile -t flags < <(debian_flags)
    # The package needs the two programs and their manual pages only
    # (installing does not build the tests first); every test has run at -O2
    # in `test`, and here the engine's and the model's run again at -O3,
    # where the compiler vectorises loops the fast/plain comparisons are about.
    cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVEL_WERROR=ON \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "${flags[@]}" >/dev/null
    ninja -C build-release tavel tavel-batch tavel_manual tavel_ace_tests tavel_model_tests
    QT_QPA_PLATFORM=offscreen ctest --test-dir build-release --output-on-failure -j2 \
      -L 'tavel_(ace|model)_tests'
    bash tests/package/run_package_test.sh build-release
    ;;
  tsan)
    setup
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVEL_TSAN=ON \
      -DTAVEL_WITH_QT=OFF -DTAVEL_WERROR=ON >/dev/null
    ninja -C build-tsan tavel_ace_tests tavel_model_tests
    TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
      ctest --test-dir build-tsan --output-on-failure -j2 -L 'tavel_ace_tests|tavel_model_tests'
    ;;
  arm64)
    setup
    need g++-aarch64-linux-gnu qemu-user
    # The workbook libraries of the target come from Debian's multiarch
    # packages, which need the architecture known to dpkg.
    if ! dpkg --print-foreign-architectures | grep -qx arm64; then
      if [ "$(id -u)" -ne 0 ]; then sudo dpkg --add-architecture arm64; else dpkg --add-architecture arm64; fi
    fi
    need libzip-dev:arm64 libpugixml-dev:arm64 libxlsxwriter-dev:arm64
    cmake -S . -B build-arm64 -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVEL_WITH_QT=OFF \
      -DTAVEL_WERROR=ON -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
      -DTAVEL_GTEST_SOURCE=/usr/src/googletest >/dev/null
    ninja -C build-arm64 tavel_ace_tests tavel_model_tests
    readelf -h build-arm64/tests/ace/tavel_ace_tests | grep -E 'Machine:.*AArch64'
    # The engine's and the model's tests under the emulator: the portable
    # vector path must give the same bits as the plain one there too. (Every
    # non-GUI test passes there as well; CI builds and runs these for its
    # time.)
    ctest --test-dir build-arm64 --output-on-failure -j2 -L 'tavel_(ace|model)_tests'
    ;;
  *)
    echo "usage: $0 run|test|sanitize|release|tsan|arm64" >&2
    exit 2
    ;;
esac
