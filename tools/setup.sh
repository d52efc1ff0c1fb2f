# Shared by ./test.sh and ./run.sh: installs the build dependencies that are
# missing and configures and builds the tree. Sourced, not run.

# What building and running need (./run.sh); the tests and the benchmark also
# need the mosquitto broker, which Debian starts as a service once installed, so
# only ./test.sh and ./bench.sh install it.
RELO_PACKAGES=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libmosquitto-dev
    qt6-websockets-dev)
# The Debian package (./package.sh): dpkg-shlibdeps (dpkg-dev) and file work out
# its dependencies from the programs.
RELO_PACKAGING_PACKAGES=("${RELO_PACKAGES[@]}" dpkg-dev file)
# The package test (run as root) also checks the package with lintian and looks
# its manual page up with man; relo-web's page is tested in a real browser:
# headless Chromium driven by Selenium, and its HTTPS with a throw-away
# certificate made by openssl.
RELO_TEST_PACKAGES=("${RELO_PACKAGING_PACKAGES[@]}" mosquitto lintian man-db chromium chromium-driver
    python3-selenium curl openssl)
# The arm64 package (tools/cross-arm64.sh): the cross compiler, the :arm64 build
# dependencies beside the machine's own (their Qt tools, moc and rcc, serve
# both), and qemu-user, which runs the arm64 test suites.
RELO_ARM64_PACKAGES=("${RELO_PACKAGING_PACKAGES[@]}" crossbuild-essential-arm64 qemu-user lintian
    qt6-base-dev:arm64 qt6-serialport-dev:arm64 libmosquitto-dev:arm64 qt6-websockets-dev:arm64)

relo_missing_packages() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
    done
}

# relo_install PACKAGE...: apt-get installs those not yet installed.
relo_install() {
    local missing
    missing=$(relo_missing_packages "$@")
    [ -z "$missing" ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "Eksik paketler (root olarak kurun): $missing" >&2
            return 1
        fi
    fi
    echo "Kuruluyor: $missing"
    # shellcheck disable=SC2086
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
        "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}

# relo_build DIR [CMAKE OPTION...]: configures DIR once, then builds it.
relo_build() {
    local dir=$1
    shift
    if [ ! -f "$dir/build.ninja" ]; then
        cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    elif [ $# -gt 0 ]; then
        cmake "$dir" "$@" >/dev/null
    fi
    cmake --build "$dir"
}
