#!/usr/bin/env bash
# pg_cluster.sh start STATE [DIR] | stop STATE
#
# start: a throwaway PostgreSQL cluster of Debian's postgresql package in DIR (default a new
# temporary directory), run by an unprivileged user (nobody when called as root), reachable only
# through a Unix socket in DIR: no TCP port is bound. Writes STATE, shell assignments of PG_DIR,
# PG_PORT (it names the socket file), PG_USER and PG_DB; or PG_MISSING with the reason when the
# server is not installed, so that the tests that need it skip and say why.
# stop: stops that cluster and removes its directory.
# halt / resume: stops the server of that cluster and starts it again, its data kept (an outage).
set -euo pipefail
action=${1:?start, stop, halt or resume}
state=${2:?state file}

if [[ $action == halt || $action == resume ]]; then
    # shellcheck disable=SC1090
    source "$state"
    run=()
    [[ $(id -u) == 0 ]] && run=(runuser -u nobody --)
    if [[ $action == halt ]]; then
        exec "${run[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop
    fi
    exec "${run[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 60 \
        -o "-k $PG_DIR -c listen_addresses= -p $PG_PORT -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
        start
fi

if [[ $action == stop ]]; then
    [[ -f $state ]] || exit 0
    # shellcheck disable=SC1090
    source "$state"
    rm -f "$state"
    [[ -n ${PG_DIR:-} ]] || exit 0
    run=()
    [[ $(id -u) == 0 ]] && run=(runuser -u nobody --)
    "${run[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$PG_DIR"
    exit 0
fi

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
if [[ -z $bin || ! -x $bin/initdb || ! -x $bin/pg_ctl ]]; then
    echo "PG_MISSING='postgresql is not installed (no initdb under /usr/lib/postgresql): run scripts/install-deps.sh'" >"$state"
    echo "pg_cluster: postgresql is not installed; the PostgreSQL tests skip"
    exit 0
fi

dir=${3:-$(mktemp -d /tmp/wayfarer-pg.XXXXXX)}
mkdir -p "$dir"
chmod 755 "$dir"
run=()
if [[ $(id -u) == 0 ]]; then
    # initdb refuses root.
    chown nobody: "$dir"
    run=(runuser -u nobody --)
fi
port=5432
# C locale: texts sort and ILIKE folds case as SQLite does (bytes, ASCII letters only).
"${run[@]}" "$bin/initdb" -D "$dir/data" -U wayfarer -A trust -E UTF8 --locale=C --no-sync \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log"; exit 1; }
# Durability is not what the tests check: no waits for the disk.
"${run[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-k $dir -c listen_addresses= -p $port -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
    start >/dev/null || { cat "$dir/server.log"; exit 1; }
"$bin/psql" -h "$dir" -p "$port" -U wayfarer -d postgres -q -c "create database wayfarer" >/dev/null
cat >"$state" <<STATE
PG_BIN='$bin'
PG_DIR='$dir'
PG_PORT=$port
PG_USER=wayfarer
PG_DB=wayfarer
STATE
echo "pg_cluster: started in $dir"
