#!/usr/bin/env bash
# shellcheck disable=SC2034 # the pids are read by stop, through their names
# The Debian package as a user meets it: made by cpack from this build tree,
# checked with lintian, installed with apt-get, used by an ordinary user with a
# home of their own; then as a home server: the system services' account,
# folders, units and their hardening, a password set with relo-parola, and each
# unit's command run as the unit would run it (systemd need not be running);
# upgraded over itself with a higher revision, and purged. Needs root. Whatever
# step fails, the trap purges the package and removes the users and the files
# it made, so the machine is left as it was found.
#
#   package_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail

build=$(cd "$1" && pwd -P)
source=$(cd "$2" && pwd -P)
user=relo-pkgtest
programs=(RELO RELOKomut relo-mqtt relo-sim relo-web)

fail() { echo "paket testi: HATA: $*" >&2; exit 1; }

[ "$(id -u)" -eq 0 ] ||
    { echo "paket testi atlandı: paketi kurup kaldırmak root ister (CI ./test.sh'ı root olarak çalıştırır)"; exit 77; }
state=$(dpkg-query -W -f='${db:Status-Status}' relo 2>/dev/null || echo not-installed)
[ "$state" = not-installed ] || fail "relo paketi bu makinede zaten var ($state); test onu kaldırmaz: önce apt-get purge relo"
! id -u "$user" >/dev/null 2>&1 || fail "$user kullanıcısı zaten var (yarıda kesilmiş bir testten mi?): userdel -r $user"

work=$(mktemp -d)
chmod 755 "$work" # the test user reaches its home and the package through it
cd "$work"
home=$work/home
installed=0 made_user=0 had_relo=0
id -u relo >/dev/null 2>&1 && had_relo=1
sim_pid='' web_pid='' mqtt_pid='' broker_pid=''
# stop VAR...: ends the background processes whose ids the variables hold, and forgets them.
stop() {
    local var
    for var in "$@"; do kill "${!var}" && wait "${!var}"; printf -v "$var" ''; done 2>/dev/null || true
}
cleanup() {
    local status=$?
    stop web_pid mqtt_pid broker_pid sim_pid
    if [ "$installed" = 1 ]; then
        echo "paket testi: relo paketi kaldırılıyor"
        apt-get purge -y -qq -o DPkg::Lock::Timeout=120 relo >/dev/null || status=1
    fi
    [ "$made_user" = 0 ] || userdel "$user" || status=1
    # The package keeps its service account on purge; the test made it.
    [ "$had_relo" = 1 ] || ! id -u relo >/dev/null 2>&1 || userdel relo || status=1
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
# Stopped (Ctrl+C, kill), the test still cleans up on its way out.
trap 'exit 130' INT && trap 'exit 143' TERM && trap 'exit 129' HUP

useradd --home-dir "$home" --create-home --user-group --shell /bin/sh "$user"
made_user=1
install -d -o "$user" -g "$user" -m 700 "$work/run"
# The user's environment alone, with no program of the build tree on PATH;
# setpriv and env exec the program, so a process started with it in the
# background has the program's pid.
as_user=(setpriv --reuid="$user" --regid="$user" --init-groups env -i HOME="$home" USER="$user"
    LANG=C.UTF-8 PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$work/run" TMPDIR="$work/run")

# run_unit UNIT LOG PID: starts the unit's ExecStart in the background as systemd
# would: as its User and Group with their groups and its UMask, with only its
# Environment= and EnvironmentFile= besides what systemd gives every service,
# an unbraced $VARIABLE split at blanks. The program's pid goes into the variable PID.
run_unit() {
    local file=/usr/lib/systemd/system/$1 key env=() envfile
    while IFS= read -r key; do env+=("$key"); done < <(sed -n 's/^Environment=//p' "$file")
    envfile=$(sed -n 's/^EnvironmentFile=-\{0,1\}//p' "$file")
    (
        # shellcheck source=/dev/null
        . "$envfile"
        while IFS= read -r key; do env+=("$key=${!key}"); done < <(sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)=.*/\1/p' "$envfile")
        umask "$(sed -n 's/^UMask=//p' "$file")"
        eval "set -- $(sed -n 's/^ExecStart=//p' "$file")"
        user=$(sed -n 's/^User=//p' "$file")
        exec setpriv --reuid="$user" --regid="$(sed -n 's/^Group=//p' "$file")" --init-groups \
            env -i HOME=/nonexistent USER="$user" LOGNAME="$user" SHELL=/usr/sbin/nologin LANG=C.UTF-8 \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin "${env[@]}" "$@"
    ) >"$2" 2>&1 &
    printf -v "$3" %s $!
}

# has_mode PATH OWNER:GROUP MODE
has_mode() { [ "$(stat -c '%U:%G %a' "$1")" = "$2" ] || fail "$1: $(stat -c '%U:%G %a' "$1"), $2 değil"; }
# wait_for FILE PATTERN [COUNT]: until COUNT lines (1: at least one) of FILE
# match, 10 s at most; FILE shown if not.
wait_for() {
    for _ in $(seq 100); do
        [ "$(grep -c -- "$2" "$1" 2>/dev/null)" -ge "${3:-1}" ] && return 0
        sleep 0.1
    done
    cat "$1" >&2
    return 1
}
# Exactly four frames of mask 4 (channel 3 on) in relo-sim's log.
four_frames() {
    wait_for "$work/sim.log" 'maske=4  açık: 3$' 4 && [ "$(grep -c 'maske=4  açık: 3$' "$work/sim.log")" = 4 ]
}

# The services' state, options and passwords, with owners and modes.
server_files() {
    find /var/lib/relo /etc/relo -type f -printf '%p %u:%g %m ' -exec sha256sum {} \; | sort
}

# Made as `cmake --build build --target package` makes it, into a folder of its own.
cpack --config "$build/CPackConfig.cmake" -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack paketi yapamadı"; }
deb=$(echo "$work"/pkg/*.deb)
[ -f "$deb" ] || fail "bir paket beklenirdi: $deb"
echo "paket testi: $(basename "$deb")"

"${as_user[@]}" lintian --fail-on error "$deb" || fail "lintian hata buldu"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6core6* && $depends == *libmosquitto1* ]] ||
    fail "Depends kitaplıklardan çıkarılmamış: $depends"

# Every file under /usr but the services' options, which are conffiles; each
# program built here with its manual page and unit.
dpkg-deb -c "$deb" | awk '{ print substr($6, 2) }' >"$work/contents"
conffiles=(/etc/relo/relo-web.conf /etc/relo/relo-mqtt.conf)
grep -v -e '^/usr/' -e '^/etc/$' -e '^/etc/relo/$' "$work/contents" | grep -vxF -e "${conffiles[0]}" -e "${conffiles[1]}" &&
    fail "/usr dışında dosyalar var"
[ "$(dpkg-deb -I "$deb" conffiles)" = "$(printf '%s\n' "${conffiles[@]}")" ] || fail "conffiles: ${conffiles[*]} değil"
units=(relo-web.service relo-mqtt.service)
expected=(/usr/share/doc/relo/copyright /usr/share/doc/relo/changelog.Debian.gz
    /usr/share/applications/relo.desktop /usr/share/applications/relokomut.desktop
    /usr/lib/sysusers.d/relo.conf /usr/sbin/relo-parola /usr/share/man/man8/relo-parola.8.gz
    /usr/lib/systemd/system/relo-web.service /usr/lib/systemd/system/relo-mqtt.service
    /usr/lib/tmpfiles.d/relo.conf)
for program in "${programs[@]}"; do
    expected+=("/usr/bin/$program" "/usr/share/man/man1/$program.1.gz")
    [ -z "$(find "$source" -mindepth 2 -maxdepth 2 -name "$program.service.in")" ] ||
        expected+=("/usr/lib/systemd/user/$program.service")
done
missing=$(printf '%s\n' "${expected[@]}" | grep -vxFf "$work/contents") && fail "pakette yok: $missing"

root_ini=${HOME:-/root}/.config/RELO/ayar.ini
root_ini_before=$(sha256sum "$root_ini" 2>/dev/null || true)

installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=120 "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install başarısız"; }
grep -Eqx 'ExecStart="?/usr/bin/relo-mqtt"?' /usr/lib/systemd/user/relo-mqtt.service ||
    fail "relo-mqtt biriminin ExecStart'ı /usr/bin/relo-mqtt değil"
grep -qx 'Exec=/usr/bin/RELO' /usr/share/applications/relo.desktop || fail "menü girdisi /usr/bin/RELO'yu başlatmıyor"

# The ordinary user.
ini=$home/.config/RELO/ayar.ini

"${as_user[@]}" relo-sim >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for "$work/sim.log" '^Port: ' || fail "relo-sim port vermedi"
pty=$(sed -n 's/^Port: //p' "$work/sim.log")
out=$("${as_user[@]}" RELO_COM1="$pty" RELOKomut 03-1) || fail "RELOKomut 03-1 durum $?"
[ "$out" = "Çıkış-3 Açıldı" ] || fail "RELOKomut 03-1 yazdı: $out"
four_frames || fail "relo-sim dört çerçeve çözmedi"
grep -qx 'PortData=4' "$ini" || fail "$ini maskeyi tutmuyor"
stop sim_pid

# The home server: the account, its folders, the units.
id -nG relo | tr ' ' '\n' | grep -qx dialout || fail "relo hesabı yok ya da dialout grubunda değil"
for dir in /var/lib/relo /run/relo; do has_mode "$dir" "root:dialout 2775"; done
(cd /usr/lib/systemd/system && systemd-analyze verify "${units[@]}") >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log"; fail "systemd-analyze verify"; }
# The hardening: an exposure of at most 3.0 (30 on the threshold's scale of 100).
(cd /usr/lib/systemd/system && systemd-analyze security --offline=true --threshold=30 "${units[@]}") >"$work/security.log" 2>&1 ||
    { cat "$work/security.log"; fail "systemd-analyze security: en çok 3.0 olmalı"; }

# relo-parola writes only a password given twice alike that the programs can
# read back (at most 4096 bytes with its line end), for root and relo only.
long=$(head -c 4096 /dev/zero | tr '\0' x)
for refused in "bir:başka" ":" "$long:$long"; do
    printf '%s\n' "${refused%%:*}" "${refused#*:}" | relo-parola web >/dev/null 2>&1 &&
        fail "relo-parola kabul etti: ${refused:0:20}"
done
[ ! -e /etc/relo/web-parola ] || fail "reddedilen parola yazıldı"
password='uzun bir parola'
for service in web mqtt; do
    printf '%s\n%s\n' "$password" "$password" | relo-parola "$service" >/dev/null || fail "relo-parola $service"
    has_mode "/etc/relo/$service-parola" "root:relo 640"
done

# The radio module: relo-sim's terminal made a serial device of the group.
relo-sim >"$work/sim.log" 2>&1 &
sim_pid=$!
wait_for "$work/sim.log" '^Port: ' || fail "relo-sim port vermedi"
pty=$(sed -n 's/^Port: //p' "$work/sim.log")
chgrp dialout "$pty" && chmod 660 "$pty"
# What an administrator changes in the options: the port, and a free network port.
sed -i "s/:8080 /:0 /; s|^#RELO_COM1=.*|RELO_COM1=$pty|" /etc/relo/relo-web.conf
mqtt_port=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
sed -i "s/^RELO_MQTT_OPTIONS=.*/RELO_MQTT_OPTIONS=\"--host 127.0.0.1 --port $mqtt_port\"/; s|^#RELO_COM1=.*|RELO_COM1=$pty|" \
    /etc/relo/relo-mqtt.conf

run_unit relo-web.service "$work/web.log" web_pid
wait_for "$work/web.log" ' başladı: ' || fail "relo-web hizmeti başlamadı"
web_port=$(sed -n 's|.* başladı: http://0\.0\.0\.0:\([0-9]*\)/, parola ile,.*|\1|p' "$work/web.log")
[ -n "$web_port" ] || fail "relo-web her ağda parolayla dinlemiyor: $(cat "$work/web.log")"
api=http://127.0.0.1:$web_port/api
[ "$(curl -s -o /dev/null -w '%{http_code}' -X PUT -d ON "$api/channels/3")" = 401 ] ||
    fail "relo-web parolasız değişikliği kabul etti"
answer=$(curl -s -w ' %{http_code}' -X PUT -H "Authorization: Bearer $password" -d ON "$api/channels/3")
[[ $answer == *' 200' ]] || fail "PUT /api/channels/3: $answer"
four_frames || fail "relo-web'in dört çerçevesi gelmedi"

# relo-mqtt reaches its broker as the service.
mosquitto -p "$mqtt_port" >"$work/broker.log" 2>&1 &
broker_pid=$!
run_unit relo-mqtt.service "$work/mqtt.log" mqtt_pid
wait_for "$work/mqtt.log" 'Aracıya bağlanıldı' || fail "relo-mqtt hizmeti aracıya bağlanmadı"
stop mqtt_pid broker_pid

# One board, one state: an ordinary user of the group switches, the page sees it.
usermod -a -G dialout "$user"
"$source/tests/support/live_state.py" "$web_port" 20 "$password" >"$work/live.log" 2>&1 &
live_pid=$!
wait_for "$work/live.log" '^state' || fail "/api/live durum vermedi"
"${as_user[@]}" RELO_COM1="$pty" RELOKomut 05-1 >/dev/null || fail "grubun kullanıcısının RELOKomut 05-1'i: durum $?"
wait "$live_pid" || fail "/api/live 5. çıkışı göstermedi: $(cat "$work/live.log")"
stop web_pid sim_pid

# An upgrade to a higher revision of the same package keeps state, options and
# passwords; so does removing it. Purging takes them.
dpkg-deb -R "$deb" "$work/next"
sed -i "s/^Version: .*/&.1/" "$work/next/DEBIAN/control"
dpkg-deb -b "$work/next" "$work/next.deb" >/dev/null
kept=$(server_files)
for step in "install $work/next.deb" "remove relo"; do
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive apt-get $step -y -qq -o DPkg::Lock::Timeout=120 >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; fail "apt-get $step başarısız"; }
    [ "$(server_files)" = "$kept" ] || fail "apt-get $step ayarları değiştirdi: $(diff <(echo "$kept") <(server_files))"
done

user_ini_before=$(sha256sum "$ini")
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq -o DPkg::Lock::Timeout=120 relo >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get purge başarısız"; }
installed=0
id -u relo >/dev/null || fail "relo hesabı silindi (Debian sistem hesaplarını tutar)"
# What the package brought (its folders aside: dpkg keeps a folder others' files are in), and the services' own.
left=$({ grep -v '/$' "$work/contents"; printf '%s\n' /var/lib/relo /run/relo /etc/relo; } | xargs -r ls -d 2>/dev/null || true)
[ -z "$left" ] || fail "kaldırmadan kaldı: $left"
[ "$(sha256sum "$ini")" = "$user_ini_before" ] || fail "kaldırma $ini'yi değiştirdi"
[ "$(sha256sum "$root_ini" 2>/dev/null || true)" = "$root_ini_before" ] || fail "kaldırma $root_ini'yi değiştirdi"
echo "paket testi: geçti"
