#!/usr/bin/env bash
# Time from re-plugging the transmitter to the receiver switching on: the
# simulated TellStick answers "not found" while a call waits, then the fault is
# cleared. Usage: bench/field/replug.sh [BUILD_DIR] [SECONDS_UNPLUGGED]
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
B=$(cd "${1:-$ROOT/build}" && pwd)
W=$(mktemp -d /tmp/quvo-replug.XXXXXX); mkdir -p "$W/config/Veltaris" "$W/inst"
KEY=${W//\//_}_inst; printf '[QUVO_HWClient]\nTellStickDevicename=Lampa\n' > "$W/config/Veltaris/$KEY.ini"
export XDG_CONFIG_HOME=$W/config XDG_CONFIG_DIRS=$W/etc XDG_DATA_HOME=$W/data
export QUVO_TELLDUS_LIBRARY=$B/lib/libtelldus-sim.so TELLDUS_SIM_DEVICES=1:Lampa TELLDUS_SIM_LOG=$W/telldus.log TELLDUS_SIM_CONTROL=$W/control
echo FAIL=notfound > "$W/control"
mkfifo "$W/in"
"$B/bin/quvo-server-sim" --port 0 < "$W/in" > "$W/server.log" 2>&1 & SIM=$!
exec 3>"$W/in"
PORT=""
for _ in $(seq 50); do PORT=$(sed -n 's/.*LISTENING \([0-9]*\).*/\1/p' "$W/server.log" | head -1); [ -n "$PORT" ] && break; sleep 0.1; done
(cd "$W/inst" && exec "$B/bin/quvo-hwclient" --headless SERVERNAME=127.0.0.1 "SERVERPORT=$PORT") 2> "$W/client.log" & CL=$!
sleep 1.5; echo "call 1 Reception" >&3; sleep "${2:-3.3}"
T0=$(date +%s%3N); rm "$W/control"
for _ in $(seq 250); do grep -q " ON 1" "$W/telldus.log" 2>/dev/null && break; sleep 0.02; done
T1=$(awk '/ ON 1/{print $1; exit}' "$W/telldus.log")
if [ -n "$T1" ]; then echo "re-plug to ON: $((T1 - T0)) ms"; else echo "not switched on within 5 s (logs: $W)"; fi
kill "$CL" "$SIM" 2>/dev/null; exec 3>&-; wait 2>/dev/null
