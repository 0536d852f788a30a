#!/usr/bin/env bash
# storage_test.sh readonly|readonly_recovery|diskfull: the database read-only at start (made
# immutable; root ignores file modes), or the application directory on a full file system.
# Uploads and imports fail with 501 "not implemented", the process stays up and keeps serving,
# and (all but readonly) the same requests succeed once the condition ends, without restart.
# A database made read-only under a running service is not testable this way: its open
# connections keep writing through descriptors opened before.
source "$(dirname "$0")/lib.sh"
scenario=${1:?readonly or diskfull}
: "${WAYFARER_EXE:?}"
[[ $(id -u) -eq 0 ]] || skip "needs root (chattr, mount)"
tmp=$(mktemp -d)
app=$tmp/app
cleanup() {
    set +e
    kill_service KILL
    chattr -i "$app/WFS.db" 2>/dev/null || true
    if mountpoint -q "$app"; then umount "$app"; fi
    rm -rf "$tmp"
    return 0
}
trap cleanup EXIT

if [[ $scenario == diskfull ]]; then
    mkdir -p "$app"
    exe_kib=$(($(stat -c %s "$WAYFARER_EXE") / 1024))
    # Room for the executable and 8 MiB of data.
    mount -t tmpfs -o size=$((exe_kib + 8192))k tmpfs "$app" 2>/dev/null ||
        skip "mounting a tmpfs is not permitted here"
fi
make_app_dir "$app"
start_service "$app"
api="http://127.0.0.1:$HTTP_PORT/KORVA"
head -c $((512 * 1024)) /dev/urandom >"$tmp/block"
csv=$tmp/devices.csv
{
    printf '\xEF\xBB\xBF设备ID,设备序列号,设备型号,车牌号,手机号,APP版本,MCU版本,4G模块版本,GNSS版本,智能模块版本,是否自动升级,配置指令,上传日志,上传录像索引,上传打印文件,上传行车信息文件\n'
    printf 'STOR1,STOR1,T1,P1,13900000001,1.0,1.0,1.0,1.0,1.0,0,,0,0,0,0\n'
} >"$csv"
# The device ID is the one the terminal sends: an imported ID is pinned. The second import
# names another device, so its row shows which import got through.
sed 's/STOR1/STOR2/g' "$csv" >"$tmp/devices2.csv"

upload() {  # upload <n>: a one-block package of type S<n>; prints the status and reason line
    curl -s -i --max-time 10 -X POST --data-binary "@$tmp/block" \
        "$api/uploadFile?name=s$1.bin&type=S$1&blockIndex=0&blockSize=1&totalLength=524288&uploadTime=20260101" |
        head -1 | tr -d '\r'
}
import() {  # import <csv>
    curl -s -i --max-time 10 -X POST --data-binary "@$1" "$api/uploadExcel?name=x.csv" | sed -n 1p | tr -d '\r'
}
report() {  # report <app version>: STOR1 reports and gets its answer (no package for T1)
    "${WAYFARER_TERMINAL:?}" --port "$TCP_PORT" --sn STOR1 --type T1 --app "$1" --expect none \
        --quiet --timeout 10000 >"$tmp/sim.txt" 2>&1 ||
        fail "report under $scenario: $(cat "$tmp/sim.txt")"
}
expect_refused() {  # expect_refused <what> <status line>
    [[ $2 == *" 501 not implemented"* ]] || fail "$1 under $scenario: '$2', expected 501 not implemented"
    kill -0 "$SERVICE_PID" 2>/dev/null || fail "the service died under $scenario"
    api_up || fail "the service stopped answering under $scenario"
}

# Before the fault: both work, and their directories (Package/, Excel/) exist.
[[ $(upload 0) == *" 200 "* ]] || fail "upload before the fault"
[[ $(import "$csv") == *" 200 "* ]] || fail "import before the fault"
case "$scenario" in
readonly | readonly_recovery)
    kill_service TERM
    chattr +i "$app/WFS.db" 2>/dev/null || skip "chattr +i is not supported here"
    start_service "$app"
    expect_refused upload "$(upload 1)"
    expect_refused import "$(import "$tmp/devices2.csv")"
    report 2.0  # the lookup reads; the refresh of the row fails
    [[ $(curl -s --max-time 5 "$api/packageList") == *s0.bin* ]] || fail "reads fail too"
    chattr -i "$app/WFS.db"
    if [[ $scenario == readonly ]]; then
        kill_service KILL
        db_ok "$app/WFS.db"
        pass "readonly: refused with 501, process up, reads served"
        exit 0
    fi
    ;;
diskfull)
    dd if=/dev/zero of="$app/filler" bs=64k 2>/dev/null || true  # ENOSPC ends it
    expect_refused upload "$(upload 1)"
    expect_refused import "$(import "$tmp/devices2.csv")"
    report 2.0
    rm -f "$app/filler"
    ;;
*) fail "unknown scenario $scenario" ;;
esac

[[ $(upload 1) == *" 200 "* ]] || fail "upload after the $scenario condition ended"
[[ $(import "$tmp/devices2.csv") == *" 200 "* ]] || fail "import after the $scenario condition ended"
[[ $(sqlite3 "$app/WFS.db" "select count(*) from Tab_Package where deviceType in ('S0','S1');") == 2 ]] ||
    fail "the packages are not both in the database"
[[ $(sqlite3 "$app/WFS.db" "select count(*) from Tab_DeviceInfo where devSN in ('STOR1','STOR2');") == 2 ]] ||
    fail "the imported device is not in the database"
[[ $(curl -s --max-time 5 "$api/packageList") == *s1.bin* ]] || fail "packageList lacks s1.bin"
report 3.0
[[ $(sqlite3 "$app/WFS.db" "select AppVersion from Tab_DeviceInfo where devSN='STOR1';") == 3.0 ]] ||
    fail "a terminal's report after the $scenario condition ended did not refresh its row"
kill_service KILL
db_ok "$app/WFS.db"
pass "$scenario: refused with 501 while it lasted, process up, recovered without restart"
