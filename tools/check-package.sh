#!/bin/sh
# CI's look at the packages of make deb: lists the package, checks both it
# and its -dbgsym package with lintian (pedantic: any tag fails, overrides
# aside), checks that the programs are hardened and that their debug
# symbols are in the -dbgsym package, unpacks the package into a temporary
# root and runs what was unpacked (--help, the demo calls against the
# simulator of the build). Then, as root on a machine without the package,
# installs, removes, reinstalls and purges it, with and without an asterisk
# user (throwaway ones, deleted after), checking the links, the users, the
# spools and the units, and runs --check on the installed example
# configuration (offline), which must find nothing. It leaves the machine
# as it found it.
# Usage: tools/check-package.sh [BUILD]
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
DEB=$(ls "$BUILD"/tarvik-kestro-ivr_*.deb)
DBGSYM=$(ls "$BUILD"/tarvik-kestro-ivr-dbgsym_*.deb)
CHANGES=$(ls "$BUILD"/tarvik-kestro-ivr_*.changes)
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

echo "== lintian --pedantic $(basename "$CHANGES")"
status=0
lintian --pedantic --display-info --tag-display-limit 0 --fail-on error,warning,info,pedantic "$CHANGES" \
    >"$UNPACKED.lintian" 2>&1 || status=$?
grep -v '^running with root privileges is not recommended!$' "$UNPACKED.lintian" || true
rm -f "$UNPACKED.lintian"
[ "$status" = 0 ] || fail "lintian found the above (status $status)"

dpkg-deb -x "$DEB" "$UNPACKED"
dpkg-deb -x "$DBGSYM" "$UNPACKED/dbgsym"
for program in ivr-orvel ivr-pelion; do
    binary="$UNPACKED/usr/bin/$program"
    # dpkg-buildflags' hardening=+all: position-independent, full RELRO
    # with bind-now, fortified functions, stack protector.
    readelf -h "$binary" | grep -q 'Type: *DYN' || fail "$program is not position-independent"
    readelf -l "$binary" | grep -q GNU_RELRO || fail "$program has no RELRO"
    readelf -d "$binary" | grep -q 'BIND_NOW\|FLAGS_1.*NOW' || fail "$program is not bound now"
    readelf -W --dyn-syms "$binary" | grep -q '__[a-z_]*_chk' || fail "$program calls no fortified function"
    readelf -W --dyn-syms "$binary" | grep -q '__stack_chk_fail' || fail "$program has no stack protector"
    [ -z "$(readelf -S "$binary" | grep -F .debug_info)" ] || fail "$program is not stripped"
    id=$(readelf -n "$binary" | sed -n 's/^ *Build ID: *\([0-9a-f]*\)$/\1/p')
    debug="usr/lib/debug/.build-id/$(echo "$id" | cut -c1-2)/$(echo "$id" | cut -c3-).debug"
    [ -n "$id" ] && [ -f "$UNPACKED/dbgsym/$debug" ] || fail "the -dbgsym package has no $debug for $program"
done
echo "== both programs hardened, their debug symbols in $(basename "$DBGSYM")"
rm -rf "$UNPACKED/dbgsym"
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
