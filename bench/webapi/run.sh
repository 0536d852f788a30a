#!/usr/bin/env bash
# GET /KORVA/deviceList against the real service with 10000 and 100000 device rows, beside the
# sqlite3 command-line tool printing the same rows as JSON, in the same run.
# Usage: [ROUNDS=5] bench/webapi/run.sh [build dir]   (builds nothing; needs wayfarer built there,
#   ideally in a Release build dir; needs curl, sqlite3 and python3)
set -euo pipefail

BUILD=${1:-build}
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
EXE=$BUILD/bin/wayfarer
[[ -x $EXE ]] || { echo "build wayfarer first ($EXE)"; exit 1; }
ROUNDS=${ROUNDS:-5}
WORK=$(mktemp -d)
PID=
cleanup() {
    if [[ -n $PID ]]; then kill "$PID" 2>/dev/null || true; wait "$PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

cp "$EXE" "$WORK/wayfarer"
cp -r "$ROOT/pages" "$WORK/Web"
HTTP_PORT=$(free_port)
cat >"$WORK/config.ini" <<INI
[LocalParam]
TcpPort=$(free_port)
HttpPort=$HTTP_PORT
HttpPort2=$(free_port)
NetIP=127.0.0.1
OperatorLogin=0
INI
(cd "$WORK" && exec ./wayfarer >"$WORK/service.log" 2>&1) &
PID=$!
URL=http://127.0.0.1:$HTTP_PORT/KORVA/deviceList
for _ in $(seq 200); do
    curl -sf -o /dev/null "$URL" && break
    sleep 0.1
done
curl -sf -o /dev/null "$URL" || { echo "service did not come up"; cat "$WORK/service.log"; exit 1; }
DB=$WORK/WFS.db

# Rows numbered from $1 to $2, with every text column filled.
fill() {
    sqlite3 "$DB" "with recursive n(i) as (select $1 union all select i+1 from n where i<$2)
      insert into Tab_DeviceInfo(devId,devSN,devType,LicensePlateNumber,PhoneNumber,AppVersion,
        McuVersion,FourGVersion,GnssVersion,SmartModule,isAutoUpdate,ConfigCmd,
        UpgradeCompletionTime)
      select 'ID'||i,'SN'||printf('%08d',i),'T'||(i%7),'P'||i,'138'||printf('%08d',i),
        'V5.3.0 build220711','M1.0.2','F2.1.0','G3.0.1','S1.1',i%2,'',1657500000+i from n;"
}

# The same rows and members as the service's document.
SQL="select id, devId as deviceId, devSN as deviceNo, devType as deviceType,
  LicensePlateNumber as plateNo, PhoneNumber as phone, AppVersion, McuVersion,
  FourGVersion as FourGVersions, GnssVersion as GnssVersions, SmartModule,
  case when UpgradeCompletionTime>0 then datetime(UpgradeCompletionTime,'unixepoch','localtime')
       else '' end as lastUpdateTime, json('false') as uploadStatus, 0 as progress
  from Tab_DeviceInfo"

median() { sort -g | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

printf '%-8s | %-12s | %-12s | %-13s | %-13s | %-6s\n' rows "service ms" "sqlite3 ms" \
    "service bytes" "sqlite3 bytes" ratio
COUNT=0
for TARGET in 10000 100000; do
    fill $((COUNT + 1)) "$TARGET"
    COUNT=$TARGET
    curl -s -o /dev/null "$URL"  # warm-up
    SERVICE_TIMES=()
    SQLITE_TIMES=()
    for _ in $(seq "$ROUNDS"); do
        SERVICE_TIMES+=("$(curl -s -o "$WORK/reply.json" -w '%{time_total}' "$URL" |
            awk '{printf "%.1f", $1 * 1000}')")
        START=$(now_ms)
        sqlite3 -json "$DB" "$SQL" >"$WORK/sqlite.json"
        SQLITE_TIMES+=($(( $(now_ms) - START )))
    done
    ROWS=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["data"]["deviceInfo"]))' "$WORK/reply.json")
    [[ $ROWS == "$TARGET" ]] || { echo "reply lists $ROWS rows, expected $TARGET"; exit 1; }
    S_MS=$(printf '%s\n' "${SERVICE_TIMES[@]}" | median)
    Q_MS=$(printf '%s\n' "${SQLITE_TIMES[@]}" | median)
    printf '%-8s | %-12s | %-12s | %-13s | %-13s | %-6s\n' "$TARGET" "$S_MS" "$Q_MS" \
        "$(stat -c %s "$WORK/reply.json")" "$(stat -c %s "$WORK/sqlite.json")" \
        "$(awk -v a="$S_MS" -v b="$Q_MS" 'BEGIN {printf "%.2f", (b > 0) ? a / b : 0}')"
done
echo "medians of $ROUNDS rounds; ratio = service time / sqlite3 time"
