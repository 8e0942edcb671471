#!/bin/sh
# Installs what a make target needs on Debian 12 when it is missing. Needs
# root (or sudo) only when something has to be installed.
#   tools/install-deps.sh          build, demo, tests and benchmarks
#   tools/install-deps.sh fuzz     the above and clang for the fuzz targets
#   tools/install-deps.sh prompts  the above and espeak-ng and sox (make prompts)
#   tools/install-deps.sh deb      the above and the packaging tools (make deb:
#                                  debian/control's Build-Depends, debhelper, lintian)
set -e

# haproxy: the scale-out test puts two FastAGI services behind it.
# libssl-dev: the simulator serves HTTPS; openssl: the TLS tests make their
# throwaway CA and certificates with it. prometheus-node-exporter: a test
# reads the calls' metrics file back through its textfile collector.
PACKAGES="cmake make g++ pkg-config libcurl4-openssl-dev libxml2-dev libjsoncpp-dev \
libsqlite3-dev libgtest-dev libgmock-dev libcpp-httplib-dev libssl-dev openssl curl python3 haproxy \
prometheus-node-exporter"
case "${1:-}" in
    fuzz) PACKAGES="$PACKAGES clang libclang-rt-14-dev" ;;
    prompts) PACKAGES="$PACKAGES espeak-ng sox" ;;
    deb) PACKAGES="$PACKAGES espeak-ng sox dpkg-dev debhelper lintian" ;;
esac

missing=""
for package in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

[ -z "$missing" ] && exit 0

echo "installing:$missing"
SUDO=""
if [ "$(id -u)" != "0" ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
