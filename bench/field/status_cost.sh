#!/usr/bin/env bash
# What the status endpoint and the history cost. Runs the client headless
# against the simulators twice each:
#  1. idle, endpoint off, then on with /health and /metrics scraped every 15 s:
#     resident size at the end and processor time used, over IDLE seconds;
#  2. call list to tdTurnOn, CALLS calls, with the history file writable and
#     with a history that cannot be written (its folder is a file).
# Usage: IDLE=120 CALLS=20 bench/field/status_cost.sh [BUILD_DIR]
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
B=$(cd "${1:-$ROOT/build}" && pwd)
IDLE=${IDLE:-120}; CALLS=${CALLS:-20}
TICK=$(getconf CLK_TCK)

# run NAME LISTEN DATA: starts server and client in $W/NAME, sets SIM, CL, W1.
run() {
  W1=$W/$1; mkdir -p "$W1/config/Veltaris" "$W1/inst"
  local key=${W1//\//_}_inst
  printf '[QUVO_HWClient]\nTellStickDevicename=Lampa\nTellStickRefresh=0\nStatusListen=%s\n' "$2" \
    > "$W1/config/Veltaris/$key.ini"
  mkfifo "$W1/in"
  XDG_CONFIG_HOME=$W1/config XDG_CONFIG_DIRS=$W1/etc XDG_DATA_HOME=$3 \
  QUVO_TELLDUS_LIBRARY=$B/lib/libtelldus-sim.so TELLDUS_SIM_DEVICES=1:Lampa TELLDUS_SIM_LOG=$W1/telldus.log \
    "$B/bin/quvo-server-sim" --port 0 < "$W1/in" > "$W1/server.log" 2>&1 & SIM=$!
  exec 3>"$W1/in"
  local port=""
  for _ in $(seq 50); do port=$(sed -n 's/.*LISTENING \([0-9]*\).*/\1/p' "$W1/server.log" | head -1); [ -n "$port" ] && break; sleep 0.1; done
  (cd "$W1/inst" && XDG_CONFIG_HOME=$W1/config XDG_CONFIG_DIRS=$W1/etc XDG_DATA_HOME=$3 \
    QUVO_TELLDUS_LIBRARY=$B/lib/libtelldus-sim.so TELLDUS_SIM_DEVICES=1:Lampa TELLDUS_SIM_LOG=$W1/telldus.log \
    exec "$B/bin/quvo-hwclient" --headless SERVERNAME=127.0.0.1 "SERVERPORT=$port") 2> "$W1/client.log" & CL=$!
  sleep 2
}
stop() { kill "$CL" "$SIM" 2>/dev/null; exec 3>&-; wait "$CL" "$SIM" 2>/dev/null; }
cpu_ms() { awk -v t="$TICK" '{print ($14 + $15) * 1000 / t}' "/proc/$1/stat"; }
rss_kb() { awk '/VmRSS/{print $2}' "/proc/$1/status"; }

W=$(mktemp -d /tmp/quvo-status-cost.XXXXXX)
for mode in off on; do
  listen=off; [ $mode = on ] && listen=127.0.0.1:0
  run idle-$mode "$listen" "$W/idle-$mode/data"
  url=$(sed -n 's/.*Statusadressen är \(http:[^ ]*\)\/health.*/\1/p' "$W1/client.log")
  c0=$(cpu_ms $CL); s=0
  while [ $s -lt "$IDLE" ]; do
    [ -n "$url" ] && { curl -sf "$url/health" > /dev/null; curl -sf "$url/metrics" > /dev/null; }
    sleep 15; s=$((s + 15))
  done
  echo "endpoint $mode: RSS $(rss_kb $CL) kB, CPU $(( $(cpu_ms $CL) - c0 )) ms in ${IDLE} s${url:+ (scraped every 15 s)}"
  stop
done

for mode in writable unwritable; do
  data=$W/lat-$mode/data
  mkdir -p "$data/Veltaris"; [ $mode = unwritable ] && : > "$data/Veltaris/QUVO"
  run lat-$mode off "$data"
  : > "$W1/lat.txt"
  for i in $(seq "$CALLS"); do
    n=$(grep -c " ON 1" "$W1/telldus.log" 2>/dev/null); n=${n:-0}
    t0=$(date +%s%3N); echo "call 1 Rum $i" >&3
    for _ in $(seq 250); do [ "$(grep -c " ON 1" "$W1/telldus.log")" -gt "$n" ] && break; sleep 0.005; done
    t1=$(awk '/ ON 1/{t=$1} END{print t}' "$W1/telldus.log"); echo $((t1 - t0)) >> "$W1/lat.txt"
    echo "end $i" >&3; sleep 0.3
  done
  sort -n "$W1/lat.txt" | awk -v m=$mode '{a[NR]=$1} END{printf "history %s: call to tdTurnOn median %d ms, max %d ms (%d calls)\n", m, a[int((NR+1)/2)], a[NR], NR}'
  grep -h "Historiken" "$W1/client.log" | sed 's/^/  /'
  stop
done
echo "(logs in $W)"
