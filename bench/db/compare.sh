#!/usr/bin/env bash
# bench/db/compare.sh BUILD_DIR [DEVICES]: the database calls of the service on SQLite and on
# PostgreSQL (a throwaway local cluster, Unix socket), one after the other in one run, with the
# load average before and after. BUILD_DIR is a build with -DWAYFARER_BENCH=ON.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:?build dir}
devices=${2:-100000}
bench="$build/bin/db_compare_bench"
work=$(mktemp -d)
state="$work/cluster.env"
trap '"$root/tests/support/pg_cluster.sh" stop "$state"; rm -rf "$work"' EXIT
"$root/tests/support/pg_cluster.sh" start "$state" >/dev/null
# shellcheck disable=SC1090
source "$state"
[[ -z ${PG_MISSING:-} ]] || { echo "$PG_MISSING"; exit 1; }
date -u '+%Y-%m-%d %H:%M UTC'
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
mkdir -p "$work/sqlite" "$work/postgresql"
cat >"$work/postgresql/config.ini" <<INI
[LocalParam]
DbDriver=postgresql
DbHost=$PG_DIR
DbPort=$PG_PORT
DbName=$PG_DB
DbUser=$PG_USER
INI
for db in sqlite postgresql; do
    "$bench" "$work/$db" "$devices"
    echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
done
