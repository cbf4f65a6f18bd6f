#!/usr/bin/env bash
# Builds, then runs the program's main job.
#   scripts/run.sh                      the built-in demo: the server simulator,
#                                       the client without windows and the
#                                       simulated receiver, ending by itself
#   scripts/run.sh [KEY=value ...]      the real client (windows when there is a
#                                       display, else --headless), e.g.
#                                       SERVERNAME=quvo.example SERVERPORT=5000
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
scripts/build.sh

if [ $# -gt 0 ]; then
  if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [[ " $* " != *" --headless "* ]]; then
    set -- --headless "$@"
  fi
  exec "$ROOT/build/bin/quvo-hwclient" "$@"
fi

WORK=$(mktemp -d /tmp/quvo-demo.XXXXXX)
SIM_PID=""; CLIENT_PID=""
cleanup() {
  [ -n "$CLIENT_PID" ] && kill "$CLIENT_PID" 2>/dev/null || true
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true
}
trap cleanup EXIT

# Everything the demo writes stays in $WORK: settings, update folder, logs.
export XDG_CONFIG_HOME="$WORK/config" XDG_CONFIG_DIRS="$WORK/etc" XDG_DATA_HOME="$WORK/data"
export QUVO_TELLDUS_LIBRARY="$ROOT/build/lib/libtelldus-sim.so"
export TELLDUS_SIM_DEVICES="1:Lampa,2:Summer i hallen"
export TELLDUS_SIM_LOG="$WORK/telldus.log"
INSTALL="$WORK/klinik"
mkdir -p "$INSTALL" "$XDG_CONFIG_HOME/Veltaris"
# The client keeps its settings per installation folder; the demo's receiver is Lampa.
KEY=${INSTALL//\//_}; KEY=${KEY// /_}; KEY=${KEY//:/}
# A second receiver, the buzzer, joins when a call has waited 2 seconds unconfirmed.
printf '[QUVO_HWClient]\nTellStickDevicename=Lampa\nTellStickAktivateMode=2\n[Receivers]\n1=Summer i hallen;*;2\n' \
  > "$XDG_CONFIG_HOME/Veltaris/$KEY.ini"

echo "QUVO demo: call server simulator, headless client, simulated receivers \"Lampa\" and, for calls"
echo "that wait 2 seconds, \"Summer i hallen\" (about 15 seconds)"
"$ROOT/build/bin/quvo-server-sim" --port 0 --scenario "$ROOT/tools/demo/scenario.txt" --quit-after-scenario \
  --timestamps > "$WORK/server.log" 2>&1 &
SIM_PID=$!
PORT=""
for _ in $(seq 100); do
  PORT=$(sed -n 's/.*LISTENING \([0-9]*\).*/\1/p' "$WORK/server.log" 2>/dev/null | head -1)
  [ -n "$PORT" ] && break
  sleep 0.05
done
[ -n "$PORT" ] || { echo "the server simulator did not start"; cat "$WORK/server.log"; exit 1; }

(cd "$INSTALL" && exec "$ROOT/build/bin/quvo-hwclient" --headless SERVERNAME=127.0.0.1 "SERVERPORT=$PORT") \
  2> "$WORK/client.log" &
CLIENT_PID=$!

wait "$SIM_PID" || true
SIM_PID=""
sleep 0.5
kill -TERM "$CLIENT_PID" 2>/dev/null || true
CLIENT_EXIT=0; wait "$CLIENT_PID" || CLIENT_EXIT=$?
CLIENT_PID=""

# One timeline from the three logs.
{
  sed -n -E 's/^([0-9:.]+) (call [0-9]+: .*)$/\1 server   \2/p;
             s/^([0-9:.]+) (confirmed [0-9]+ .*)$/\1 server   \2/p;
             s/^([0-9:.]+) (ended [0-9]+.*)$/\1 server   \2/p;
             s/^([0-9:.]+) (call [0-9]+ ended.*)$/\1 server   \2/p' "$WORK/server.log"
  sed -n -E 's/^([0-9:.]+) (STATUS|INFO|FRÅGA|SYSTEMREGISTER): (.*)$/\1 client   \3/p;
             s/^([0-9:.]+) ENHET: ([^:]*: )?(Turned .*)$/\1 client   panel: \2\3/p' "$WORK/client.log"
  if [ -f "$TELLDUS_SIM_LOG" ]; then
    while read -r ms what id; do
      name=$(tr ',' '\n' <<<"$TELLDUS_SIM_DEVICES" | sed -n "s/^$id://p")
      printf '%s receiver %s %s\n' "$(date -d "@$((ms / 1000)).$(printf '%03d' $((ms % 1000)))" +%H:%M:%S.%3N)" "$name" "$what"
    done < "$TELLDUS_SIM_LOG"
  fi
} | sort -s -k1,1 > "$WORK/timeline.txt"

echo
echo "Timeline (seconds after the start):"
awk '{ split($1, t, ":"); ms = (t[1] * 3600 + t[2] * 60 + t[3]) * 1000;
       if (NR == 1) start = ms;
       src = $2; $1 = ""; $2 = ""; printf "  %7.3f  %-9s %s\n", (ms - start) / 1000, src, substr($0, 3) }' "$WORK/timeline.txt"
echo
for name in Lampa "Summer i hallen"; do
  ONS=$(grep -c " receiver $name ON\$" "$WORK/timeline.txt" || true)
  OFFS=$(grep -c " receiver $name OFF\$" "$WORK/timeline.txt" || true)
  echo "$name was switched on $ONS times and off $OFFS times."
done
echo "The client ended with exit code $CLIENT_EXIT."
echo
echo "The client's call history (quvo-hwclient --history):"
"$ROOT/build/bin/quvo-hwclient" --history | sed 's/^/  /'
echo "Logs: $WORK (server.log, client.log, telldus.log, data/Veltaris/QUVO/history.sqlite)"
