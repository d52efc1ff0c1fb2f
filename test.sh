#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test.
# Run it as an ordinary user: sudo is asked for only to install missing packages.
#
#   1. build/: every suite (ctest). Run as root, that includes the package test
#      (CTest label package): the Debian package is made, checked with lintian,
#      installed, used by a temporary ordinary user and purged again; as anyone
#      else it is skipped.
#   2. Run as root only: the end-to-end suites (CTest label e2e) once more as the
#      ordinary user relo-test, created when missing, because root passes through
#      exclusive opens, lock files and folder permissions that hold a user back.
#   3. Run as root (or with RELO_ARM64=1): the arm64 package, cross-built in
#      build-arm64/ and checked, its suites that need no window run under
#      qemu-user (tools/cross-arm64.sh --test; RELO_SKIP_ARM64=1 leaves it out).
#   4. build-asan/: every suite again, built with AddressSanitizer and
#      UndefinedBehaviorSanitizer (RELO_SKIP_SANITIZERS=1 leaves it out).
set -euo pipefail
cd "$(dirname "$0")"

case ${1:-} in
'') ;;
-h | --help)
    cat <<'EOF'
Kullanım: ./test.sh

Eksik paketleri kurar (yalnızca bunun için sudo ister), build/ dizininde uyarıları
hata sayarak derler ve bütün testleri çalıştırır. root olarak çalıştırılınca uçtan
uca testler (e2e etiketi) bir kez de sıradan kullanıcı relo-test olarak çalışır;
kullanıcı yoksa oluşturulur. Yine yalnız root olarak paket testi (package
etiketi) Debian paketini yapar, lintian ile denetler, kurar, geçici bir
kullanıcıyla dener ve kaldırır. root olarak (ya da RELO_ARM64=1 ile) arm64
paketi build-arm64/ dizininde çapraz derlenir, denetlenir ve pencere
gerektirmeyen testleri qemu-user altında çalışır (tools/cross-arm64.sh --test).
Ardından her şey build-asan/ dizininde AddressSanitizer ve
UndefinedBehaviorSanitizer ile bir kez daha derlenip çalıştırılır.

  RELO_SKIP_SANITIZERS=1 ./test.sh   sanitizer turunu atlar (hızlı yerel deneme)
  RELO_SKIP_ARM64=1 ./test.sh        arm64 turunu atlar
EOF
    exit 0
    ;;
*)
    echo "test.sh: bilinmeyen seçenek: $1 (yardım için: ./test.sh --help)" >&2
    exit 2
    ;;
esac

. tools/setup.sh

# The end-to-end suites as relo-test. The checkout may sit where that user cannot
# reach (CI clones into /root), and ctest writes into the tree it runs, so the user
# gets a copy of its own: bin/ (the suites find the programs beside themselves)
# and the CTest files, with the build folder's path changed to the copy's.
run_e2e_unprivileged() {
    local user=relo-test build escaped
    if ! id -u "$user" >/dev/null 2>&1; then
        useradd --system --user-group --no-create-home --home-dir /nonexistent \
            --shell /usr/sbin/nologin "$user"
    fi
    copy=$(mktemp -d) # global: the trap runs after this function has returned
    trap 'rm -rf "$copy"' EXIT
    build=$(cd build && pwd -P)
    cp -r "$build/bin" "$copy/bin"
    (cd "$build" && find . -name CTestTestfile.cmake -exec cp --parents {} "$copy" \;)
    escaped=$(printf '%s' "$build" | sed 's/[][\.*^$|]/\\&/g')
    find "$copy" -name CTestTestfile.cmake -exec sed -i "s|$escaped|$copy|g" {} +
    chown -R "$user:$user" "$copy"
    echo "Uçtan uca testler sıradan kullanıcı $user olarak:"
    runuser -u "$user" -- env HOME="$copy" ctest --test-dir "$copy" -L e2e --output-on-failure
}

relo_install "${RELO_TEST_PACKAGES[@]}"
relo_build build -DRELO_WARNINGS_AS_ERRORS=ON
ctest --test-dir build --output-on-failure
if [ "$(id -u)" -eq 0 ]; then
    run_e2e_unprivileged
fi
if [ "${RELO_SKIP_ARM64:-0}" != 1 ] && { [ "$(id -u)" -eq 0 ] || [ "${RELO_ARM64:-0}" = 1 ]; }; then
    tools/cross-arm64.sh --test
fi

if [ "${RELO_SKIP_SANITIZERS:-0}" != 1 ]; then
    relo_build build-asan -DCMAKE_BUILD_TYPE=Debug -DRELO_SANITIZE=ON -DRELO_WARNINGS_AS_ERRORS=ON
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure
fi
