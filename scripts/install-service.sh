#!/usr/bin/env bash
# scripts/install-service.sh [--build-dir DIR] [--unit-dir DIR] [prefix]
# Builds Release (unless --build-dir names an existing build), installs the service into prefix
# (default /opt/wayfarer; the prefix is the application directory), creates the system user
# wayfarer, gives it the application directory and installs the systemd unit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=""
unit_dir=/etc/systemd/system
prefix=/opt/wayfarer
user=wayfarer
while [[ $# -gt 0 ]]; do
    case "$1" in
        --build-dir) build_dir=${2:?}; shift 2 ;;
        --unit-dir) unit_dir=${2:?}; shift 2 ;;
        -h|--help) sed -n 2,5p "$0"; exit 0 ;;
        -*) echo "install-service.sh: unknown option $1" >&2; exit 2 ;;
        *) prefix=$1; shift ;;
    esac
done
[[ $(id -u) -eq 0 ]] || { echo "install-service.sh: run as root" >&2; exit 1; }
prefix=$(realpath -m "$prefix")
# The whole prefix is handed to the service user: never a shared system directory.
case "$prefix" in
    / | /bin | /boot | /dev | /etc | /home | /lib* | /opt | /proc | /root | /run | /sbin | /srv | \
        /sys | /tmp | /usr | /usr/* | /var | /var/lib | /var/tmp)
        echo "install-service.sh: $prefix is a system directory; use its own directory such as /opt/wayfarer" >&2
        exit 1 ;;
esac

if [[ -z "$build_dir" ]]; then
    "$root/scripts/build.sh" build/release Release
    build_dir=$root/build/release
fi
cmake --install "$build_dir" --prefix "$prefix"

if ! getent passwd "$user" >/dev/null; then
    useradd --system --user-group --home-dir "$prefix" --no-create-home \
        --shell /usr/sbin/nologin --comment "Wayfarer service" "$user"
fi
# The service writes config.ini, WFS.db, its logs and the data directories beside the
# executable; the program files themselves stay root's.
chown root:root "$prefix/wayfarer"
chown -R root:root "$prefix/Web" "$prefix/bin" "$prefix/systemd"
chown "$user:$user" "$prefix"
chmod 0755 "$prefix"
for data in config.ini WFS.db WFSLog Logs ExceptionDump Package DevLog DevIndex Print RunInfo Excel; do
    if [[ -e "$prefix/$data" ]]; then chown -R "$user:$user" "$prefix/$data"; fi
done

mkdir -p "$unit_dir"
install -m 0644 "$prefix/systemd/wayfarer.service" "$unit_dir/wayfarer.service"
echo "Installed $unit_dir/wayfarer.service (application directory $prefix, user $user)"

if [[ -d /run/systemd/system ]] && [[ "$unit_dir" == /etc/systemd/system ]]; then
    systemctl daemon-reload
    systemctl enable --now wayfarer.service
    systemctl --no-pager status wayfarer.service || true
else
    echo "systemd is not running here (or the unit went elsewhere); on the target host run:"
    echo "    systemctl daemon-reload && systemctl enable --now wayfarer.service"
    echo "    systemctl status wayfarer; journalctl -u wayfarer -f"
fi
