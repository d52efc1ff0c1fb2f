#!/usr/bin/env bash
# Several accounts, one board: two ordinary accounts of one group and one
# outside it, against one install that none of them may write, with relo-sim as
# the board and the shared folders made as the install makes them. Only root can
# act as several accounts: as anyone else the test is skipped (77).
#
#   tst_sharedstate.sh BINDIR            the test
#   tst_sharedstate.sh BINDIR bench N    N bursts of eight commands, four from
#                                        each account: one row for ./bench.sh
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "root değil: atlandı"; exit 77; }
bin=$(cd "$1" && pwd)
mode=${2:-test}
group=relo-test-ortak A=relo-test B=relo-test2 outsider=nobody

getent group "$group" >/dev/null || groupadd --system "$group"
for user in "$A" "$B"; do
    id -u "$user" >/dev/null 2>&1 || useradd --system --user-group --no-create-home \
        --home-dir /nonexistent --shell /usr/sbin/nologin "$user"
    usermod -aG "$group" "$user"
done

work=$(mktemp -d) sim= web=
trap 'kill $sim $web 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir -p "$work/install" "$work/serial" "$work/state" "$work/run"
cp "$bin/RELOKomut" "$bin/relo-web" "$work/install/"
chgrp "$group" "$work/state" "$work/run" && chmod 2775 "$work/state" "$work/run"
for user in "$A" "$B" "$outsider"; do install -d -o "$user" "$work/home-$user"; done

fail() { echo "BAŞARISIZ: $*" >&2; exit 1; }
# Waits (at most 10 s) until the test TEST... holds; fails if it never does.
until10s() { for _ in $(seq 100); do "$@" && return; sleep 0.1; done; return 1; }
"$bin/relo-sim" >"$work/wire" 2>&1 &
sim=$!
until10s grep -q '^Port: ' "$work/wire"
pty=$(sed -n 's/^Port: //p' "$work/wire")
chgrp "$group" "$pty" && chmod 660 "$pty"

# as USER COMMAND...: the account's own configuration folder, the shared folders;
# without a command, exec_as is only set for a command to be started by hand. A
# keeps its files to itself (umask 077): the shared ones must still be the group's.
as() {
    local user=$1
    shift
    exec_as=(setpriv --reuid "$user" --regid "$(id -g "$user")" --init-groups env -i
        PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen HOME=/nonexistent
        XDG_CONFIG_HOME="$work/home-$user" RELO_SHARED_STATE_DIR="$work/state"
        RELO_SHARED_RUN_DIR="$work/run" RELO_SERIAL_DIR="$work/serial" RELO_COM1="$pty")
    [ $# -eq 0 ] || (umask "$([ "$user" = "$A" ] && echo 077 || echo 022)" && exec "${exec_as[@]}" "$@")
}
# The masks of the frames on the wire, one a line.
masks() { sed -n 's/.*maske=\([0-9]*\).*/\1/p' "$work/wire"; }
saved() { sed -n 's/^PortData=//p' "$work/state/ayar.ini"; }

# Eight commands at once, four from each account, so that what is on stays on.
burst() {
    local pids=() c
    for c in 03-1 05-1 07-1 01-0; do as "$A" "$work/install/RELOKomut" "$c" >/dev/null & pids+=($!); done
    for c in 04-1 06-1 08-1 02-0; do as "$B" "$work/install/RELOKomut" "$c" >/dev/null & pids+=($!); done
    for c in "${pids[@]}"; do wait "$c" || return 1; done
}

if [ "$mode" = bench ]; then
    rounds=${3:-5} times=()
    for _ in $(seq "$rounds"); do
        printf '[RELO]\nPortNumber=1\nPortData=3\n' >"$work/state/ayar.ini"
        start=$(date +%s%N)
        burst || fail "bir komut başarısız"
        times+=($((($(date +%s%N) - start) / 1000000)))
        [ "$(saved)" = 252 ] || fail "maske $(saved), 252 bekleniyordu"
    done
    sorted=$(printf '%s\n' "${times[@]}" | sort -n)
    median=$(echo "$sorted" | sed -n "$(((rounds + 1) / 2))p") worst=$(echo "$sorted" | tail -1)
    verdict=$([ "$worst" -le 2500 ] && echo met || echo MISSED)
    echo "| Eight RELOKomut from two accounts at once, shared queue: start→last exit | $rounds | $median ms | $worst ms | $worst ms | – | – | ≤ 2500 ms, all switched | $verdict |"
    exit 0
fi

# The first account's private ayar.ini seeds the shared one.
printf '; A kendi portunu seçmişti\n[RELO]\nPortNumber=1\nPortData=0\n' |
    as "$A" sh -c 'mkdir "$1" && cat >"$1/ayar.ini"' - "$work/home-$A/RELO"

# relo-web under B follows what A does.
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
as "$B"
"${exec_as[@]}" "$work/install/relo-web" --listen "127.0.0.1:$port" >"$work/web" 2>&1 &
web=$!
until10s grep -q 'başladı' "$work/web" || fail "relo-web başlamadı: $(cat "$work/web")"
/usr/bin/python3 "$bin/live_state.py" "$port" 1 >"$work/live" 2>&1 &
live=$!
# A's command once the WebSocket is open (its first message is the mask before).
until10s test -s "$work/live"

as "$A" "$work/install/RELOKomut" 01-1 || fail "A: 01-1"
wait "$live" || { cat "$work/live"; fail "relo-web (B) A'nın değişikliğini /api/live'da göstermedi"; }
as "$B" "$work/install/RELOKomut" 02-1 || fail "B: 02-1"
until10s eval '[ "$(masks | uniq | tr "\n" " ")" = "1 3 " ]' || fail "telde $(masks | uniq | tr '\n' ' '), 1 sonra 3 bekleniyordu"
grep -q 'A kendi portunu' "$work/state/ayar.ini" || fail "ortak ayar.ini A'nın kopyasından oluşmadı"

burst || fail "sekiz komuttan biri başarısız"
[ "$(saved)" = 252 ] || fail "sekiz komuttan sonra maske $(saved), 252 bekleniyordu"
until10s eval '[ "$(masks | tail -1)" = 252 ]' || fail "telde son maske $(masks | tail -1)"

# The files are the group's, the folders keep their setgid bit.
# One queue for both accounts: none beside ayar.ini.
modes=$(stat -c '%a %G' "$work/state/ayar.ini" "$work/run/kuyruk" "$work/run/kuyruk/sira" | tr '\n' ' ')
[ "$modes" = "664 $group 2775 $group 664 $group " ] || fail "izinler: $modes"
[ ! -e "$work/state/.ayar.ini.kuyruk" ] || fail "ikinci bir kuyruk"

# A link planted in place of ayar.ini (to a file the group could use as it is),
# or a file of someone outside the group, is neither used nor replaced, and the
# program says which: "PLANT=WHY".
before=$(cat "$work/state/ayar.ini")
mv "$work/state/ayar.ini" "$work/saved"
echo gizli >"$work/target" && chown "$A:$group" "$work/target" && chmod 664 "$work/target"
for plant in "ln -s $work/target=sembolik bağ" "install -o $outsider -m 644 $work/target=grubunun dışından"; do
    ${plant%=*} "$work/state/ayar.ini"
    as "$B" "$work/install/RELOKomut" --set-port 2 2>"$work/err" && status=0 || status=$?
    [ $status -eq 3 ] && grep -q "${plant#*=}" "$work/err" || fail "${plant%=*}: çıkış $status, $(cat "$work/err")"
    [ "$(cat "$work/target")" = gizli ] || fail "${plant%=*}: izlendi"
    rm "$work/state/ayar.ini"
done
mv "$work/saved" "$work/state/ayar.ini"

# An account outside the group: its own copy, a line on how to join, nothing shared touched.
as "$outsider" "$work/install/RELOKomut" --set-port 2 2>"$work/err" || fail "dışarıdaki hesap"
grep -q "sudo usermod -aG $group $outsider" "$work/err" || fail "katılma notu yok: $(cat "$work/err")"
grep -q '^PortNumber=2' "$work/home-$outsider/RELO/ayar.ini" || fail "kişisel kopya yazılmadı"
[ "$(cat "$work/state/ayar.ini")" = "$before" ] || fail "ortak ayar.ini değişti"
echo "tamam"
