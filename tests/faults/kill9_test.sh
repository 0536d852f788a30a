#!/usr/bin/env bash
# kill9_test.sh upload|import|device: kills the service with SIGKILL while that work flows,
# restarts it and checks that WFS.db is intact, that everything acknowledged before the kill
# is there, and that the management API answers again at once.
source "$(dirname "$0")/lib.sh"
scenario=${1:?upload, import or device}
: "${WAYFARER_EXE:?}"
tmp=$(mktemp -d)
app=$tmp/app
cleanup() {
    set +e
    kill_service KILL
    if [[ -n ${worker:-} ]]; then kill "$worker" 2>/dev/null; fi
    rm -rf "$tmp"
    return 0
}
trap cleanup EXIT
make_app_dir "$app"
start_service "$app"
api="http://127.0.0.1:$HTTP_PORT/KORVA"

restart_and_check() {
    kill_service KILL
    db_ok "$app/WFS.db"
    local started=$SECONDS
    start_service "$app"
    ((SECONDS - started <= 5)) || fail "the restart took $((SECONDS - started)) s"
    db_ok "$app/WFS.db"
}

case "$scenario" in
upload)
    # Packages of three 1 MiB blocks each, one device type each (a type holds one package).
    head -c $((1024 * 1024)) /dev/urandom >"$tmp/block"
    uploader() {
        local i=0 b
        while :; do
            i=$((i + 1))
            for b in 0 1 2; do
                code=$(http_code "$api/uploadFile?name=pkg$i.bin&app=1.0.$i&type=K$i&blockIndex=$b&blockSize=3&totalLength=3145728&uploadTime=20260101" \
                    -X POST --data-binary "@$tmp/block" -H 'Content-Type: application/octet-stream')
                [[ $code == 200 ]] || return 0
                echo "$b" >>"$tmp/blocks"
            done
            echo "pkg$i.bin K$i" >>"$tmp/acked"
        done
    }
    touch "$tmp/acked" "$tmp/blocks"
    uploader &
    worker=$!
    # Killed once three packages are complete and the next one has only some of its blocks.
    wait_for 30 bash -c "[[ \$(wc -l <'$tmp/acked') -ge 3 && \$(tail -n 1 '$tmp/blocks') != 2 ]]" ||
        fail "no upload was acknowledged"
    restart_and_check
    wait "$worker" || true
    worker=""
    acked=$(wc -l <"$tmp/acked")
    list=$(curl -s --max-time 5 "$api/packageList")
    while read -r name type; do
        row=$(sqlite3 "$app/WFS.db" "select packagePath, size from Tab_Package where deviceType='$type' and packageName like '%\_$name' escape '\\';")
        [[ -n $row ]] || fail "acknowledged package $name ($type) is not in Tab_Package"
        [[ $list == *"$name"* ]] || fail "acknowledged package $name is not in packageList"
        path=${row%|*}
        [[ $(stat -c %s "$path") == 3145728 ]] || fail "$path is not complete"
    done <"$tmp/acked"
    pass "kill -9 during uploads: $acked acknowledged packages kept, database intact"
    ;;
import)
    csv=$tmp/devices.csv
    {
        printf '\xEF\xBB\xBF设备ID,设备序列号,设备型号,车牌号,手机号,APP版本,MCU版本,4G模块版本,GNSS版本,智能模块版本,是否自动升级,配置指令,上传日志,上传录像索引,上传打印文件,上传行车信息文件\n'
        for i in $(seq 1 300); do printf 'D%03d,IMP%03d,T1,P%03d,139%08d,1.0,1.0,1.0,1.0,1.0,0,,0,0,0,0\n' "$i" "$i" "$i" "$i"; done
    } >"$csv"
    curl -s -o /dev/null --max-time 60 -X POST --data-binary "@$csv" "$api/uploadExcel?name=x.csv" &
    worker=$!
    wait_for 30 bash -c "[[ \$(sqlite3 '$app/WFS.db' 'select count(*) from Tab_DeviceInfo;' 2>/dev/null || echo 0) -ge 20 ]]" ||
        fail "the import did not start"
    restart_and_check
    stored=$(sqlite3 "$app/WFS.db" "select devSN from Tab_DeviceInfo order by id;")
    n=$(grep -c . <<<"$stored")
    ((n >= 20 && n < 300)) || fail "$n rows after a kill inside the import"
    # sed reads the whole file: a reader closing early would fail the pipeline (SIGPIPE)
    expected=$(sed -n "2,$((n + 1))p" "$csv" | cut -d, -f2)
    [[ $stored == "$expected" ]] || fail "the imported rows are not a prefix of the file"
    pass "kill -9 during an import: $n of 300 rows, a prefix of the file, database intact"
    ;;
device)
    sim=${WAYFARER_TERMINAL:?}
    head -c 40000 /dev/urandom >"$tmp/log.bin"
    # Twenty registered terminals that owe their log file (rows written before the start).
    kill_service KILL
    for i in $(seq 1 20); do
        sqlite3 "$app/WFS.db" "insert into Tab_DeviceInfo(devId,devSN,devType,GetLogFile) values('DEV$i','DEV$i','T1',1);"
    done
    start_service "$app"
    "$sim" --port "$TCP_PORT" --count 20 --sn DEV --expect none --file "1=$tmp/log.bin" \
        --quiet --timeout 20000 >"$tmp/sim.txt" 2>&1 &
    worker=$!
    # Kill once some transfers are complete and others are still flowing.
    wait_for 30 bash -c "[[ \$(sqlite3 '$app/WFS.db' 'select count(*) from Tab_DeviceInfo where GetLogFile=0;' 2>/dev/null || echo 0) -ge 3 ]]" ||
        fail "no device file transfer finished: $(cat "$tmp/sim.txt")"
    restart_and_check
    wait "$worker" || true
    worker=""
    finished=$(sqlite3 "$app/WFS.db" "select devSN from Tab_DeviceInfo where GetLogFile=0;")
    (($(wc -w <<<"$finished") >= 3)) || fail "transfers finished before the kill are marked pending again"
    for sn in $finished; do
        found=0
        while IFS= read -r f; do
            cmp -s "$f" "$tmp/log.bin" && found=1
        done < <(find "$app/DevLog/$sn" -type f)
        ((found)) || fail "$sn is marked done but has no complete log file"
    done
    total=$(sqlite3 "$app/WFS.db" "select count(*) from Tab_DeviceInfo;")
    [[ $total == 20 ]] || fail "$total device rows after the kill"
    pass "kill -9 during device file transfers: $(wc -w <<<"$finished") done before the kill, database intact"
    ;;
*) fail "unknown scenario $scenario" ;;
esac
