#!/usr/bin/env bash
# A headless client with default settings against the server simulator: the
# wire traffic of an idle connection (ss counters over IDLE seconds), then the
# time from stopping the server (SIGSTOP) to the client noticing.
# Usage: IDLE=300 bench/field/silent_server.sh [BUILD_DIR]
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
B=$(cd "${1:-$ROOT/build}" && pwd)
D=$(mktemp -d /tmp/quvo-silent.XXXXXX)
cd "$D"
export XDG_CONFIG_HOME=$D/config XDG_CONFIG_DIRS=$D/etc XDG_DATA_HOME=$D/data
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
export QUVO_TELLDUS_LIBRARY=$B/lib/libtelldus-sim.so TELLDUS_SIM_DEVICES=1:Lampa TELLDUS_SIM_LOG=$D/t.log
mkfifo simin
(tail -f /dev/null > simin) & HOLD=$!
"$B/bin/quvo-server-sim" --port 0 < simin > sim.log 2>&1 & SIM=$!
sleep 1
PORT=$(sed -n 's/.*LISTENING \([0-9]*\).*/\1/p' sim.log | head -1)
"$B/bin/quvo-hwclient" --headless SERVERNAME=127.0.0.1 "SERVERPORT=$PORT" 2> client.log & CL=$!
sleep 5
ss -tinH "( sport = :$PORT )" > ss0.txt
sleep "${IDLE:-300}"
ss -tinH "( sport = :$PORT )" > ss1.txt
echo "idle ${IDLE:-300} s, server side before/after:"
grep -o 'bytes_sent:[0-9]*\|bytes_received:[0-9]*\|segs_out:[0-9]*\|segs_in:[0-9]*' ss0.txt | tr '\n' ' '; echo
grep -o 'bytes_sent:[0-9]*\|bytes_received:[0-9]*\|segs_out:[0-9]*\|segs_in:[0-9]*' ss1.txt | tr '\n' ' '; echo
kill -STOP "$SIM"
T0=$(date +%s.%N)
for _ in $(seq 600); do grep -q "Servern svarar inte" client.log && break; sleep 0.2; done
T1=$(date +%s.%N)
echo "server stopped to loss noticed: $(echo "$T1 - $T0" | bc) s"
kill -CONT "$SIM"
sleep 25
grep -c "STATUS: Ansluten" client.log | sed 's/^/times connected: /'
kill -TERM "$CL"; wait "$CL"
kill "$SIM" "$HOLD" 2>/dev/null
echo "logs: $D"
