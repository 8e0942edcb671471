#!/bin/sh
# CI's look at the package of make deb: lists it, checks it with lintian
# (an error fails), unpacks it into a temporary root and runs what was
# unpacked (--help, the demo calls against the simulator of the build).
# Then, as root on a machine without the package, installs, removes,
# reinstalls and purges it, with and without an asterisk user (a throwaway
# one, deleted after), checking the links, the users and the spools, and
# runs --check on the installed example configuration (offline), which must
# find nothing. It leaves the machine as it found it.
# Usage: tools/check-package.sh [BUILD]
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
DEB=$(ls "$BUILD"/tarvik-kestro-ivr_*.deb)
UNPACKED=$(mktemp -d)
trap 'rm -rf "$UNPACKED"' EXIT INT TERM
fail() {
    echo "package check: $*" >&2
    exit 1
}

echo "== $DEB"
dpkg-deb --info "$DEB"
dpkg-deb --contents "$DEB" >"$UNPACKED.list"
grep -v '\.wav$' "$UNPACKED.list"
echo "($(grep -c '\.wav$' "$UNPACKED.list") prompt files)"
rm -f "$UNPACKED.list"

echo "== lintian"
lintian --tag-display-limit 0 --fail-on error "$DEB"

dpkg-deb -x "$DEB" "$UNPACKED"
DOC="$UNPACKED/usr/share/doc/tarvik-kestro-ivr"
for file in usr/bin/ivr-orvel usr/bin/ivr-pelion usr/share/asterisk/agi-bin/ivr-orvel \
    usr/share/asterisk/agi-bin/ivr-pelion usr/share/man/man1/ivr-orvel.1.gz usr/share/man/man1/ivr-pelion.1.gz \
    lib/systemd/system/ivr-orvel-fastagi.service lib/systemd/system/ivr-orvel-flush-spool.service \
    lib/systemd/system/ivr-orvel-flush-spool.timer usr/share/doc/tarvik-kestro-ivr/examples/config/orvel.json \
    usr/share/tarvik-kestro-ivr/sounds/pt_BR/digits/pt-e.wav; do
    [ -e "$UNPACKED/$file" ] || fail "$file is missing"
done
sh "$ROOT/tools/check-prompts.sh" "$UNPACKED/usr/share/tarvik-kestro-ivr"

echo "== unpacked ivr-orvel --help"
"$UNPACKED/usr/bin/ivr-orvel" --help | head -n 3
"$UNPACKED/usr/bin/ivr-pelion" --help >/dev/null

echo "== demo calls with the unpacked ivr-orvel and examples"
BIN="$UNPACKED/usr/bin" EXAMPLES="$DOC/examples" sh "$ROOT/tools/demo.sh" "$BUILD" >"$UNPACKED/demo.out"
cat "$UNPACKED/demo.out"
[ "$(grep -c '^== ivr-orvel exited with status 0$' "$UNPACKED/demo.out")" = 2 ] || fail "the demo calls did not end"
grep -q '^goTo ivr-exits 50011 1$' "$UNPACKED/demo.out" || fail "the whole demo call did not reach 50011"
sh "$ROOT/tools/check-package-install.sh" "$DEB"
echo "== package check passed"
