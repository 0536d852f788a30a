#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and (with --bench) the benchmarks need.
# Idempotent: apt-get runs only when something is missing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config ninja-build
    qtbase5-dev libqt5sql5-sqlite libsqlite3-dev
    libqt5sql5-psql libpq-dev postgresql postgresql-contrib  # the PostgreSQL driver and its tests
    libevent-dev libspdlog-dev libfmt-dev
    libsodium-dev libssl-dev openssl  # passwords and tokens; HTTPS on the management port
    libxlsxwriter-dev libminizip-dev libfreexl-dev
    prometheus-cpp-dev  # /metrics: only its core library (registry, text format) is linked
    googletest libgtest-dev libgmock-dev
    clang curl sqlite3 python3 python3-openpyxl libreoffice-calc-nogui  # exports opened as users do
    wget aria2  # downloads tested with the clients terminals and people use
    haproxy  # the cluster test: instances behind it, as deployed (deploy/)
    prometheus  # promtool checks the shipped alert rules
    chromium fonts-wqy-microhei  # browser tests; the font draws the Chinese labels in screenshots
    libjs-chart.js  # the dashboard's charts, shipped with the pages
)
if [[ " $* " == *" --bench "* ]]; then
    packages+=(libbenchmark-dev nginx-light wrk)
fi

# The browser tests need node (20 or later, for playwright-core) and npm; a node package from
# another source already on the machine is kept.
if ! command -v node >/dev/null; then packages+=(nodejs); fi
if ! command -v npm >/dev/null; then packages+=(npm); fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "install-deps: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
