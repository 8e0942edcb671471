#!/bin/sh
# The installed life of the package: install, remove, reinstall and purge,
# without and with an asterisk user (one with a group of its own name, one
# whose primary group is nogroup), as an operator would meet them; the units
# enabled by hand, stopped on remove and their enable links gone on purge;
# and --check of the installed example configuration, which must find
# nothing. Runs only as root on a machine that has neither the package nor
# what it makes (/etc/tarvik, /var/spool/tarvik, the tarvik-ivr user), and
# puts back what it changed: a throwaway asterisk user is deleted after.
# Usage: tools/check-package-install.sh DEB   (tools/check-package.sh runs it)
set -eu

DEB=$1
NAME=tarvik-kestro-ivr
SPOOL=/var/spool/tarvik/kestro
EXAMPLE=/usr/share/doc/$NAME/examples/config/orvel.json
SERVICE=ivr-orvel-fastagi.service
TIMER=ivr-orvel-flush-spool.timer
fail() {
    echo "package install check: $*" >&2
    exit 1
}

if [ "$(id -u)" != 0 ]; then
    echo "== install check skipped: not root"
    exit 0
fi
# links: the enable links of the package's units, any target's.
links() {
    ls -d /etc/systemd/system/*.wants/ivr-orvel-* 2>/dev/null || true
}

if dpkg-query -W -f='${Status}' "$NAME" 2>/dev/null | grep -q installed || [ -e /etc/tarvik ] \
    || [ -e /var/spool/tarvik ] || getent passwd tarvik-ivr >/dev/null || [ -n "$(links)" ]; then
    echo "== install check skipped: $NAME or what it makes is already on this machine"
    exit 0
fi
THROWAWAY=""
getent passwd asterisk >/dev/null || THROWAWAY=asterisk
# systemd as the running init: the units really start and stop. Otherwise
# the stop on remove is watched in a mount namespace of its own where
# /run/systemd/system exists and deb-systemd-invoke only writes down what
# it is asked (FAKE).
RUNNING_SYSTEMD=""
[ -d /run/systemd/system ] && RUNNING_SYSTEMD=yes
FAKE=$(mktemp -d)
cleanup() {
    dpkg --purge "$NAME" >/dev/null 2>&1 || true
    # What a failed step leaves (the test's records, a unit's link or
    # deb-systemd-helper's note of one): none of it was here before.
    rm -rf /etc/tarvik /var/spool/tarvik
    rm -f /etc/systemd/system/*.wants/ivr-orvel-* /etc/systemd/system/ivr-orvel-*
    find /var/lib/systemd/deb-systemd-helper-enabled /var/lib/systemd/deb-systemd-helper-masked \
        -name 'ivr-orvel-*' -exec rm -f {} + 2>/dev/null || true
    if [ -n "$THROWAWAY" ] && getent passwd asterisk >/dev/null; then userdel asterisk; fi
    if [ -n "$THROWAWAY" ] && getent group asterisk >/dev/null; then groupdel asterisk; fi
    rm -rf "$FAKE"
}
trap cleanup EXIT INT TERM

# owned DIRECTORY USER: DIRECTORY belongs to USER, mode 0700.
owned() {
    [ "$(stat -c '%U %a' "$1")" = "$2 700" ] || fail "$1 is $(stat -c '%U %a' "$1"), not $2 700"
}

installed() {
    echo "== dpkg -i ($1)"
    dpkg -i "$DEB" >/dev/null || fail "dpkg -i failed"
    [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$NAME")" = "ii " ] ||
        fail "dpkg left $NAME $(dpkg-query -W -f='${db:Status-Abbrev}' "$NAME")after configure"
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
    service_uid=$(id -u tarvik-ivr)
    dpkg --purge "$NAME" >/dev/null || fail "dpkg --purge failed"
    for left in /etc/tarvik /var/spool/tarvik; do [ ! -e "$left" ] || fail "$left is left after purge"; done
    ! getent passwd tarvik-ivr >/dev/null || fail "the tarvik-ivr user is left after purge"
    ! getent group tarvik-ivr >/dev/null || fail "the tarvik-ivr group is left after purge"
    [ -z "$(links)" ] || fail "enable links are left after purge: $(links)"
    # Nor a mask of a removed unit, nor deb-systemd-helper's note of one.
    for left in /etc/systemd/system/ivr-orvel-* /var/lib/systemd/deb-systemd-helper-enabled/*ivr-orvel-* \
        /var/lib/systemd/deb-systemd-helper-masked/ivr-orvel-*; do
        [ ! -e "$left" ] && [ ! -L "$left" ] || fail "$left is left after purge"
    done
    owned_files=$(find /etc /var/spool /var/lib /var/log /var/cache /run /srv -xdev -uid "$service_uid" 2>/dev/null | head -n 5)
    [ -z "$owned_files" ] || fail "files of the removed tarvik-ivr user are left: $owned_files"
}

# enabled: both units enabled as README says (and started where systemd
# runs), each with its link.
enabled() {
    if [ -n "$RUNNING_SYSTEMD" ]; then
        echo "== systemctl enable --now $SERVICE $TIMER"
        systemctl enable --now "$SERVICE" "$TIMER" 2>/dev/null || fail "systemctl enable --now failed"
        systemctl is-active --quiet "$SERVICE" || fail "$SERVICE did not start"
        systemctl is-active --quiet "$TIMER" || fail "$TIMER did not start"
    else
        echo "== systemctl enable $SERVICE $TIMER (systemd not running: links only)"
        systemctl enable "$SERVICE" "$TIMER" 2>/dev/null || fail "systemctl enable failed"
    fi
    [ -L "/etc/systemd/system/multi-user.target.wants/$SERVICE" ] || fail "no enable link of $SERVICE"
    [ -L "/etc/systemd/system/timers.target.wants/$TIMER" ] || fail "no enable link of $TIMER"
}

# removed: dpkg -r stops the units and leaves their enable links (an
# administrator's choice, kept until purge).
removed() {
    echo "== dpkg -r"
    if [ -n "$RUNNING_SYSTEMD" ]; then
        dpkg -r "$NAME" >/dev/null || fail "dpkg -r failed"
        ! systemctl is-active --quiet "$SERVICE" || fail "$SERVICE still runs after remove"
        ! systemctl is-active --quiet "$TIMER" || fail "$TIMER still runs after remove"
    elif [ -d /run/systemd ] && unshare --mount true 2>/dev/null; then
        mkdir -p "$FAKE/bin"
        for tool in deb-systemd-invoke systemctl; do
            printf '#!/bin/sh\necho "%s $*" >>"%s/calls"\n' "$tool" "$FAKE" >"$FAKE/bin/$tool"
            chmod 0755 "$FAKE/bin/$tool"
        done
        : >"$FAKE/calls"
        # /run/systemd is another tmpfs in the namespace only.
        PATH="$FAKE/bin:$PATH" unshare --mount sh -c \
            'mount -t tmpfs tmpfs /run/systemd && mkdir /run/systemd/system && dpkg -r "$1" >/dev/null' \
            sh "$NAME" || fail "dpkg -r failed"
        for unit in "$SERVICE" "$TIMER"; do
            grep -q "^deb-systemd-invoke stop .*$unit" "$FAKE/calls" ||
                fail "remove did not stop $unit; what was called: $(cat "$FAKE/calls")"
        done
        echo "   stopped: $(grep '^deb-systemd-invoke stop' "$FAKE/calls")"
    else
        # No mount namespace to be had (a container without the right):
        # the stop is at least in prerm.
        dpkg-deb -e "$DEB" "$FAKE/control"
        for unit in "$SERVICE" "$TIMER"; do
            grep -q "deb-systemd-invoke stop .*$unit" "$FAKE/control/prerm" || fail "prerm does not stop $unit"
        done
        echo "   (no mount namespace here: prerm read, not run, for the stop)"
        dpkg -r "$NAME" >/dev/null || fail "dpkg -r failed"
    fi
    [ -n "$(links)" ] || fail "remove took the administrator's enable links"
}

if [ -n "$THROWAWAY" ]; then
    # No Asterisk here: the FastAGI service's user takes the per-call spool
    # too, and gives it to asterisk when Asterisk comes and the package is
    # reconfigured, the records in it included.
    installed "no asterisk user"
    [ -z "$(links)" ] || fail "installing enabled units: $(links)"
    owned "$SPOOL/ivr" tarvik-ivr
    mkdir "$SPOOL/ivr/aside" && touch "$SPOOL/ivr/record" "$SPOOL/ivr/aside/.claimed-1"
    chown -R tarvik-ivr:tarvik-ivr "$SPOOL/ivr"
    enabled
    removed
    [ ! -e /etc/tarvik/kestro/audios ] || fail "the audios link is left after remove"
    [ -e "$SPOOL/ivr/record" ] || fail "remove took a waiting record"
    installed "reinstalled"
    # Still enabled, and startable: no mask of remove's is left over.
    [ -n "$(links)" ] || fail "reinstalling lost the enable links"
    [ ! -L "/etc/systemd/system/$SERVICE" ] || fail "$SERVICE is masked after reinstall"
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
[ -z "$(links)" ] || fail "installing enabled units: $(links)"
owned "$SPOOL/ivr" asterisk
[ "$(stat -c %g "$SPOOL/ivr")" = "$(id -g asterisk)" ] || fail "$SPOOL/ivr is not in asterisk's primary group"
enabled
removed
purged

if [ -n "$THROWAWAY" ]; then
    # An asterisk user without a group of its name (made by hand, or by a
    # source-built Asterisk's installer): the spool goes to its own group.
    userdel asterisk
    ! getent group asterisk >/dev/null || groupdel asterisk
    useradd --system -g nogroup --no-create-home asterisk
    installed "asterisk user in group nogroup"
    owned "$SPOOL/ivr" asterisk
    [ "$(stat -c %G "$SPOOL/ivr")" = nogroup ] || fail "$SPOOL/ivr is in group $(stat -c %G "$SPOOL/ivr"), not nogroup"
    echo "== dpkg-reconfigure $NAME (asterisk in nogroup)"
    dpkg-reconfigure "$NAME" || fail "dpkg-reconfigure failed"
    [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$NAME")" = "ii " ] || fail "dpkg-reconfigure left $NAME half-configured"
    purged
fi
echo "== install check passed"
