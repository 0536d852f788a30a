#!/usr/bin/env bash
# pg_cluster.sh start STATE [DIR] | stop STATE | pause STATE | resume STATE
#
# start: a throwaway PostgreSQL cluster of Debian's postgresql package in DIR (default a new
# temporary directory), run by an unprivileged user (nobody when called as root), reachable only
# through a Unix socket in DIR: no TCP port is bound. Writes STATE, shell assignments of PG_DIR,
# PG_PORT (it names the socket file), PG_USER and PG_DB; or PG_MISSING with the reason when the
# server is not installed, so that the tests that need it skip and say why.
# stop: stops that cluster and removes its directory.
# pause, resume: stops that cluster's server, keeping its data; starts it again (an outage).
set -euo pipefail
action=${1:?start, stop, pause or resume}
state=${2:?state file}
port=5432

# Durability is not what the tests check: no waits for the disk.
server_start() { # BIN DIR RUN...
    local bin=$1 dir=$2
    shift 2
    "$@" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-k $dir -c listen_addresses= -p $port -c fsync=off -c synchronous_commit=off -c full_page_writes=off" \
        start >/dev/null || { cat "$dir/server.log"; exit 1; }
}

if [[ $action == pause || $action == resume ]]; then
    # shellcheck disable=SC1090
    source "$state"
    run=()
    [[ $(id -u) == 0 ]] && run=(runuser -u nobody --)
    if [[ $action == pause ]]; then
        "${run[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null
    else
        server_start "$PG_BIN" "$PG_DIR" "${run[@]}"
    fi
    exit 0
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
# C locale: texts sort and ILIKE folds case as SQLite does (bytes, ASCII letters only).
"${run[@]}" "$bin/initdb" -D "$dir/data" -U wayfarer -A trust -E UTF8 --locale=C --no-sync \
    >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log"; exit 1; }
server_start "$bin" "$dir" "${run[@]}"
"$bin/psql" -h "$dir" -p "$port" -U wayfarer -d postgres -q -c "create database wayfarer" >/dev/null
cat >"$state" <<STATE
PG_BIN='$bin'
PG_DIR='$dir'
PG_PORT=$port
PG_USER=wayfarer
PG_DB=wayfarer
STATE
echo "pg_cluster: started in $dir"
