#!/usr/bin/env bash
# Installs into a temporary prefix with scripts/install-service.sh, checks the layout and the
# unit, then runs the installed executable as the wayfarer user with only the ambient
# CAP_NET_BIND_SERVICE, as the unit does, and checks it listens on a port below 1024.
# Needs root (useradd, setpriv); the wayfarer system user is left in place.
source "$(dirname "$0")/lib.sh"
[[ $(id -u) -eq 0 ]] || skip "needs root"
command -v setpriv >/dev/null || skip "setpriv is not installed"
: "${WAYFARER_BUILD_DIR:?}" "${WAYFARER_SOURCE_DIR:?}"

tmp=$(mktemp -d)
trap 'kill_service KILL; rm -rf "$tmp"' EXIT
chmod 0755 "$tmp"  # the service user must reach the prefix
prefix=$tmp/opt/wayfarer

"$WAYFARER_SOURCE_DIR/scripts/install-service.sh" --build-dir "$WAYFARER_BUILD_DIR" \
    --unit-dir "$tmp/units" "$prefix" >"$tmp/install.txt" 2>&1 ||
    fail "install-service.sh: $(cat "$tmp/install.txt")"

# Layout: the executable is the application directory's, pages beside it, the simulator in bin/.
[[ -x $prefix/wayfarer ]] || fail "no $prefix/wayfarer"
[[ -f $prefix/Web/index.asp ]] || fail "no Web/index.asp"
[[ ! -e $prefix/Web/CMakeLists.txt ]] || fail "the pages' CMakeLists.txt was installed"
[[ -x $prefix/bin/wayfarer-terminal ]] || fail "no bin/wayfarer-terminal"
"$prefix/bin/wayfarer-terminal" --help >/dev/null 2>&1 || fail "the installed simulator does not run"
unit=$tmp/units/wayfarer.service
[[ -f $unit ]] || fail "no unit installed"
for line in "WorkingDirectory=$prefix" "ExecStart=$prefix/wayfarer" "User=wayfarer" \
    "AmbientCapabilities=CAP_NET_BIND_SERVICE" "Restart=on-failure" "KillSignal=SIGTERM"; do
    grep -qx "$line" "$unit" || fail "the unit lacks $line"
done
grep -q '^LimitNOFILE=[0-9]\{5,\}$' "$unit" || fail "the unit's LimitNOFILE is not high"
grep -q @ "$unit" && fail "unsubstituted placeholder in the unit"
getent passwd wayfarer >/dev/null || fail "no wayfarer user"
[[ $(stat -c %U "$prefix") == wayfarer ]] || fail "the application directory is not the user's"
[[ $(stat -c %U "$prefix/wayfarer") == root ]] || fail "the executable is not root's"
if command -v systemd-analyze >/dev/null; then
    # Runs offline; only complaints about this unit count (the host may lack other units).
    systemd-analyze verify "$unit" >"$tmp/verify.txt" 2>&1 || true
    if grep -i "wayfarer.service" "$tmp/verify.txt"; then fail "systemd-analyze verify: see above"; fi
fi
grep -q "systemctl" "$tmp/install.txt" || fail "the script said nothing about systemctl"
pass "layout and unit"

# A re-install keeps the user and must not fail on it.
"$WAYFARER_SOURCE_DIR/scripts/install-service.sh" --build-dir "$WAYFARER_BUILD_DIR" \
    --unit-dir "$tmp/units" "$prefix" >"$tmp/install2.txt" 2>&1 ||
    fail "second install: $(cat "$tmp/install2.txt")"

# Run it as the unit would: the service user, the ambient capability, the prefix as working dir.
low=$(free_port 600 1000) || skip "no free port below 1024"
TCP_PORT=$(free_port); HTTP_PORT=$low; HTTP_PORT2=$(free_port)
printf '[LocalParam]\nTcpPort=%s\nHttpPort=%s\nHttpPort2=%s\nOperatorLogin=0\n' "$TCP_PORT" "$HTTP_PORT" \
    "$HTTP_PORT2" >"$prefix/config.ini"
chown wayfarer:wayfarer "$prefix/config.ini"
(cd "$prefix" && exec setpriv --reuid=wayfarer --regid=wayfarer --init-groups \
    --inh-caps=+net_bind_service --ambient-caps=+net_bind_service "$prefix/wayfarer" \
    >"$tmp/out.txt" 2>&1) &
SERVICE_PID=$!
wait_for 20 api_up || fail "no answer on port $low: $(tail -5 "$tmp/out.txt")"
[[ $(ps -o user= -p "$SERVICE_PID") == wayfarer ]] || fail "the service does not run as wayfarer"
[[ $(stat -c %U "$prefix/WFS.db") == wayfarer ]] || fail "WFS.db is not the user's"
[[ -d $prefix/WFSLog ]] || fail "no WFSLog/ in the application directory"
[[ $(http_code "http://127.0.0.1:$low/") == 200 ]] || fail "the pages are not served from Web/"
kill -TERM "$SERVICE_PID"
wait_for 10 bash -c "! kill -0 $SERVICE_PID 2>/dev/null" || fail "SIGTERM did not end it"
wait "$SERVICE_PID" 2>/dev/null || true
SERVICE_PID=""
grep -q CTRL_SHUTDOWN_EVENT "$tmp/out.txt" || fail "no CTRL_SHUTDOWN_EVENT on SIGTERM"
pass "runs as wayfarer on port $low and stops on SIGTERM"

# Without the capability the same user cannot take the port: the capability is what works.
(cd "$prefix" && exec setpriv --reuid=wayfarer --regid=wayfarer --init-groups \
    --inh-caps=-all "$prefix/wayfarer" >"$tmp/out2.txt" 2>&1) &
SERVICE_PID=$!
wait_for 20 grep -q "Tcp Server start" "$tmp/out2.txt" || fail "no start-up: $(tail -5 "$tmp/out2.txt")"
if api_up; then fail "port $low bound without the capability"; fi
kill_service KILL
pass "no capability, no low port"
