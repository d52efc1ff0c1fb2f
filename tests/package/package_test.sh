#!/usr/bin/env bash
# The Debian package as a user meets it: made by cpack from this build tree,
# checked with lintian, installed with apt-get, used by an ordinary user with a
# home of their own, then purged. Needs root. Whatever step fails, the trap
# purges the package and removes the user and the files it made, so the machine
# is left as it was found.
#
#   package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "$1" && pwd -P)
source=$(cd "$2" && pwd -P)
user=relo-pkgtest
programs=(RELO RELOKomut relo-mqtt relo-sim relo-web)

fail() {
    echo "paket testi: HATA: $*" >&2
    exit 1
}

if [ "$(id -u)" -ne 0 ]; then
    echo "paket testi atlandı: paketi kurup kaldırmak root ister (CI ./test.sh'ı root olarak çalıştırır)"
    exit 77
fi
for tool in cpack dpkg-deb dpkg-shlibdeps lintian apt-get man setpriv useradd; do
    command -v "$tool" >/dev/null || fail "$tool bulunamadı (tools/setup.sh, RELO_TEST_PACKAGES)"
done
state=$(dpkg-query -W -f='${db:Status-Status}' relo 2>/dev/null || true)
if [ -n "$state" ] && [ "$state" != not-installed ]; then
    fail "relo paketi bu makinede zaten var ($state); test onu kaldırmaz: önce apt-get purge relo"
fi
if id -u "$user" >/dev/null 2>&1; then
    fail "$user kullanıcısı zaten var (yarıda kesilmiş bir testten mi?): userdel -r $user"
fi

work=$(mktemp -d)
chmod 755 "$work" # the test user reaches its home and the package through it
cd "$work"
home=$work/home
installed=0
made_user=0
sim_pid=
cleanup() {
    local status=$?
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    if [ "$installed" = 1 ]; then
        echo "paket testi: relo paketi kaldırılıyor"
        apt-get purge -y -qq -o DPkg::Lock::Timeout=120 relo >/dev/null || status=1
    fi
    if [ "$made_user" = 1 ]; then
        userdel "$user" || status=1
    fi
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
# Stopped (Ctrl+C, kill), the test still cleans up on its way out.
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

useradd --home-dir "$home" --create-home --user-group --shell /bin/sh "$user"
made_user=1
install -d -o "$user" -g "$user" -m 700 "$work/run"
# The user's environment alone, with no program of the build tree on PATH;
# setpriv and env exec the program, so a process started with it in the
# background has the program's pid.
as_user=(setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="$home" USER="$user"
    LANG=C.UTF-8 PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/run")
as_user() { "${as_user[@]}" "$@"; }

# Made as `cmake --build build --target package` makes it, into a folder of its own.
version=$("$build/bin/RELOKomut" --version | cut -d' ' -f2)
cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack paketi yapamadı"; }
debs=("$work"/pkg/*.deb)
[ ${#debs[@]} = 1 ] || fail "bir paket beklenirdi: ${debs[*]}"
deb=${debs[0]}
case $(basename "$deb") in
relo_"$version"-*_"$(dpkg --print-architecture)".deb) ;;
*) fail "paketin adı sürümü ($version) ve mimariyi taşımıyor: $(basename "$deb")" ;;
esac
echo "paket testi: $(basename "$deb")"

as_user lintian --fail-on error "$deb" || fail "lintian hata buldu"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6core6* && $depends == *libmosquitto1* ]] ||
    fail "Depends kitaplıklardan çıkarılmamış: $depends"
[ "$(dpkg-deb -f "$deb" Suggests)" = mosquitto ] || fail "Suggests: mosquitto değil"

# Every file under /usr; each program built here with its manual page and unit.
dpkg-deb -c "$deb" | awk '{ print substr($6, 2) }' >"$work/contents"
grep -v '^/usr/' "$work/contents" && fail "/usr dışında dosyalar var"
expected=(/usr/share/doc/relo/copyright /usr/share/doc/relo/changelog.Debian.gz
    /usr/share/applications/relo.desktop /usr/share/applications/relokomut.desktop)
for program in "${programs[@]}"; do
    [ -e "$build/bin/$program" ] || continue
    expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
    if [ -n "$(find "$source" -mindepth 2 -maxdepth 2 -name "$program.service.in")" ]; then
        expected+=("/usr/lib/systemd/user/$program.service")
    fi
done
for path in "${expected[@]}"; do
    grep -qxF "$path" "$work/contents" || fail "pakette yok: $path"
done
grep '\.service$' "$work/contents" | grep -v '^/usr/lib/systemd/user/' &&
    fail "systemd birimi /usr/lib/systemd/user dışında"

root_ini=${HOME:-/root}/.config/RELO/ayar.ini
root_ini_before=$(sha256sum "$root_ini" 2>/dev/null || true)

installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=120 "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install başarısız"; }
grep -Eqx 'ExecStart="?/usr/bin/relo-mqtt"?' /usr/lib/systemd/user/relo-mqtt.service ||
    fail "relo-mqtt biriminin ExecStart'ı /usr/bin/relo-mqtt değil"
grep -qx 'Exec=/usr/bin/RELO' /usr/share/applications/relo.desktop || fail "menü girdisi /usr/bin/RELO'yu başlatmıyor"

# The ordinary user.
[ "$(as_user RELOKomut --version)" = "RELOKomut $version" ] || fail "RELOKomut --version"
[ "$(as_user man -w RELOKomut)" = /usr/share/man/man1/RELOKomut.1.gz ] || fail "man -w RELOKomut"
ini=$home/.config/RELO/ayar.ini
as_user RELOKomut --help | grep -qF "Ayar dosyası: $ini" || fail "RELOKomut --help kullanıcının ayar.ini'sini göstermiyor"

"${as_user[@]}" relo-sim >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 50); do
    grep -q '^Port: ' "$work/sim.log" && break
    sleep 0.1
done
pty=$(sed -n 's/^Port: //p' "$work/sim.log")
[ -n "$pty" ] || { cat "$work/sim.log"; fail "relo-sim port vermedi"; }
out=$(as_user RELO_COM1="$pty" RELOKomut 03-1) || fail "RELOKomut 03-1 durum $?"
[ "$out" = "Çıkış-3 Açıldı" ] || fail "RELOKomut 03-1 yazdı: $out"
for _ in $(seq 50); do
    [ "$(grep -c 'maske=4  açık: 3$' "$work/sim.log")" = 4 ] && break
    sleep 0.1
done
[ "$(grep -c 'maske=4  açık: 3$' "$work/sim.log")" = 4 ] || { cat "$work/sim.log"; fail "relo-sim dört çerçeve çözmedi"; }
grep -qx 'PortData=4' "$ini" || fail "$ini maskeyi tutmuyor"
[ "$(stat -c %U "$ini")" = "$user" ] || fail "$ini kullanıcının değil"
[ ! -e /usr/bin/ayar.ini ] || fail "/usr/bin/ayar.ini yazıldı"
as_user relo-mqtt --help | grep -qF "$ini" || fail "relo-mqtt --help kullanıcının ayar.ini'sini göstermiyor"
kill "$sim_pid"
wait "$sim_pid" || true
sim_pid=

user_ini_before=$(sha256sum "$ini")
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=120 relo >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get purge başarısız"; }
installed=0
[ "$(dpkg-query -W -f='${db:Status-Status}' relo 2>/dev/null || echo not-installed)" = not-installed ] ||
    fail "relo paketi kaldırılmadı"
while read -r path; do
    case $path in */) continue ;; esac
    [ ! -e "$path" ] || fail "paketten kaldı: $path"
done <"$work/contents"
[ ! -e /usr/share/doc/relo ] || fail "paketten kaldı: /usr/share/doc/relo"
[ "$(sha256sum "$ini")" = "$user_ini_before" ] || fail "kaldırma $ini'yi değiştirdi"
[ "$(sha256sum "$root_ini" 2>/dev/null || true)" = "$root_ini_before" ] || fail "kaldırma $root_ini'yi değiştirdi"
echo "paket testi: geçti"
