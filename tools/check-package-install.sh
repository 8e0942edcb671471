#!/bin/sh
# The installed life of the package: install, remove, reinstall and purge,
# without and with an asterisk user, as an operator would meet them, and
# --check of the installed example configuration, which must find nothing.
# Runs only as root on a machine that has neither the package nor what it
# makes (/etc/tarvik, /var/spool/tarvik, the tarvik-ivr user), and puts
# back what it changed: a throwaway asterisk user is deleted after.
# Usage: tools/check-package-install.sh DEB   (tools/check-package.sh runs it)
set -eu

DEB=$1
NAME=tarvik-kestro-ivr
SPOOL=/var/spool/tarvik/kestro
EXAMPLE=/usr/share/doc/$NAME/examples/config/orvel.json
fail() {
    echo "package install check: $*" >&2
    exit 1
}

if [ "$(id -u)" != 0 ]; then
    echo "== install check skipped: not root"
    exit 0
fi
if dpkg-query -W -f='${Status}' "$NAME" 2>/dev/null | grep -q installed || [ -e /etc/tarvik ] \
    || [ -e /var/spool/tarvik ] || getent passwd tarvik-ivr >/dev/null; then
    echo "== install check skipped: $NAME or what it makes is already on this machine"
    exit 0
fi
THROWAWAY=""
getent passwd asterisk >/dev/null || THROWAWAY=asterisk
cleanup() {
    dpkg --purge "$NAME" >/dev/null 2>&1 || true
    if [ -n "$THROWAWAY" ] && getent passwd asterisk >/dev/null; then userdel asterisk; fi
    if [ -n "$THROWAWAY" ] && getent group asterisk >/dev/null; then groupdel asterisk; fi
}
trap cleanup EXIT INT TERM

# owned DIRECTORY USER: DIRECTORY belongs to USER, mode 0700.
owned() {
    [ "$(stat -c '%U %a' "$1")" = "$2 700" ] || fail "$1 is $(stat -c '%U %a' "$1"), not $2 700"
}

installed() {
    echo "== dpkg -i ($1)"
    dpkg -i "$DEB" >/dev/null || fail "dpkg -i failed"
    getent passwd tarvik-ivr >/dev/null || fail "no tarvik-ivr user"
    [ "$(readlink /etc/tarvik/kestro/audios)" = "/usr/share/$NAME/audios" ] || fail "no audios link"
    owned "$SPOOL/fastagi" tarvik-ivr
    echo "== ivr-orvel --check $EXAMPLE --offline"
    /usr/bin/ivr-orvel --check "$EXAMPLE" --offline || fail "the installed example configuration has problems"
    /usr/bin/ivr-pelion --check "/usr/share/doc/$NAME/examples/config/pelion.json" --offline ||
        fail "the installed example configuration of ivr-pelion has problems"
    if command -v systemd-analyze >/dev/null; then
        systemd-analyze verify /lib/systemd/system/ivr-orvel-fastagi.service \
            /lib/systemd/system/ivr-orvel-flush-spool.service /lib/systemd/system/ivr-orvel-flush-spool.timer ||
            fail "systemd does not accept the units"
    fi
}

purged() {
    echo "== dpkg --purge"
    dpkg --purge "$NAME" >/dev/null || fail "dpkg --purge failed"
    for left in /etc/tarvik /var/spool/tarvik; do [ ! -e "$left" ] || fail "$left is left after purge"; done
    ! getent passwd tarvik-ivr >/dev/null || fail "the tarvik-ivr user is left after purge"
    ! getent group tarvik-ivr >/dev/null || fail "the tarvik-ivr group is left after purge"
}

if [ -n "$THROWAWAY" ]; then
    # No Asterisk here: the FastAGI service's user takes the per-call spool
    # too, and gives it to asterisk when Asterisk comes and the package is
    # reconfigured, the records in it included.
    installed "no asterisk user"
    owned "$SPOOL/ivr" tarvik-ivr
    mkdir "$SPOOL/ivr/aside" && touch "$SPOOL/ivr/record" "$SPOOL/ivr/aside/.claimed-1"
    chown -R tarvik-ivr:tarvik-ivr "$SPOOL/ivr"
    echo "== dpkg -r, dpkg -i"
    dpkg -r "$NAME" >/dev/null || fail "dpkg -r failed"
    [ ! -e /etc/tarvik/kestro/audios ] || fail "the audios link is left after remove"
    [ -e "$SPOOL/ivr/record" ] || fail "remove took a waiting record"
    installed "reinstalled"
    echo "== useradd --system asterisk; dpkg-reconfigure $NAME"
    useradd --system --user-group --no-create-home asterisk
    dpkg-reconfigure "$NAME" || fail "dpkg-reconfigure failed"
    owned "$SPOOL/ivr" asterisk
    [ "$(stat -c %U "$SPOOL/ivr/record" "$SPOOL/ivr/aside" "$SPOOL/ivr/aside/.claimed-1" | sort -u)" = asterisk ] ||
        fail "the waiting records did not go to asterisk"
    rm -rf "$SPOOL/ivr/record" "$SPOOL/ivr/aside"
    purged
else
    echo "== an asterisk user is already here: install check with it only"
fi

installed "with an asterisk user"
owned "$SPOOL/ivr" asterisk
purged
echo "== install check passed"
