#!/bin/sh
# Builds BUILD/tarvik-kestro-ivr_VERSION_ARCH.deb from a build of the two
# programs of its own in BUILD/deb-build, with Debian's hardening flags
# (dpkg-buildflags, hardening=+all: fortified functions, stack protector,
# full RELRO with bind-now), the manual pages of the tree in BUILD
# (tools/make-man.py) and the placeholder prompts of make prompts
# (BUILD/prompts):
#   /usr/bin/ivr-orvel, /usr/bin/ivr-pelion (stripped)
#   /usr/share/asterisk/agi-bin/ links to them (Debian's Asterisk AGI folder)
#   /usr/share/man/man1/ivr-orvel.1.gz, ivr-pelion.1.gz
#   /usr/share/doc/tarvik-kestro-ivr/ README, copyright, changelog, examples
#   /usr/share/tarvik-kestro-ivr/audios/ and sounds/pt_BR/digits/ (prompts)
#   /lib/systemd/system/ivr-orvel-fastagi.service, ivr-orvel-flush-spool.timer
#   and .service (installed, not enabled)
# Depends comes from the programs' shared libraries (dpkg-shlibdeps).
# Usage: tools/make-deb.sh [BUILD]   (needs dpkg-dev; see make deb)
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
NAME=tarvik-kestro-ivr
VERSION=$(sed -n 's/^project(tarvik_ivr VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
ARCH=$(dpkg --print-architecture)
STAGE="$BUILD/deb/root"
DOC="$STAGE/usr/share/doc/$NAME"
SHARE="$STAGE/usr/share/$NAME"

for program in orvel pelion; do
    if [ ! -f "$BUILD/man/ivr-$program.1" ]; then
        echo "build the man-pages target first (make deb does)" >&2
        exit 1
    fi
done
if [ ! -d "$BUILD/prompts/audios" ]; then
    echo "make the prompts first: tools/make-prompts.sh $BUILD/prompts (make deb does)" >&2
    exit 1
fi

# The package's programs: a build of their own, so the hardening flags
# (bind-now costs each per-call process its start-up symbol resolution)
# stay out of the test and benchmark builds.
HARDENED="$BUILD/deb-build"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
sh "$ROOT/tools/quiet-step.sh" "configure the package's hardened build in $HARDENED/" "$BUILD/logs/deb-configure.log" \
    cmake -S "$ROOT" -B "$HARDENED" -DCMAKE_BUILD_TYPE=None -DIVR_TESTS=OFF -DIVR_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
sh "$ROOT/tools/quiet-step.sh" "build the package's ivr-orvel and ivr-pelion" "$BUILD/logs/deb-build.log" \
    cmake --build "$HARDENED" -j "${JOBS:-2}" --target ivr-orvel ivr-pelion

rm -rf "$BUILD/deb"
mkdir -p "$STAGE/DEBIAN" "$STAGE/usr/bin" "$STAGE/usr/share/asterisk/agi-bin" "$STAGE/usr/share/man/man1" \
    "$DOC/examples" "$SHARE" "$STAGE/lib/systemd/system"

for program in orvel pelion; do
    install -m 0755 "$HARDENED/sites/$program/ivr-$program" "$STAGE/usr/bin/ivr-$program"
    strip --strip-unneeded --remove-section=.comment --remove-section=.note "$STAGE/usr/bin/ivr-$program"
    ln -s "../../../bin/ivr-$program" "$STAGE/usr/share/asterisk/agi-bin/ivr-$program"
    gzip -9n <"$BUILD/man/ivr-$program.1" >"$STAGE/usr/share/man/man1/ivr-$program.1.gz"
done

install -m 0644 "$ROOT/README.md" "$DOC/README.md"
install -m 0644 "$ROOT/packaging/copyright" "$DOC/copyright"
gzip -9n <"$ROOT/packaging/changelog" >"$DOC/changelog.gz"
for folder in asterisk backoffice config robots systemd; do
    cp -r "$ROOT/examples/$folder" "$DOC/examples/$folder"
done
cp -r "$BUILD/prompts/audios" "$BUILD/prompts/sounds" "$SHARE/"
# The units run the packaged program.
for unit in ivr-orvel-fastagi.service ivr-orvel-flush-spool.service ivr-orvel-flush-spool.timer; do
    sed 's#/usr/local/bin/#/usr/bin/#g' "$ROOT/examples/systemd/$unit" >"$STAGE/lib/systemd/system/$unit"
done

install -m 0755 "$ROOT/packaging/postinst" "$ROOT/packaging/postrm" "$STAGE/DEBIAN/"
find "$STAGE" -type d -exec chmod 0755 {} +
find "$STAGE/usr/share" "$STAGE/lib" -type f -exec chmod 0644 {} +

# dpkg-shlibdeps wants a source package around it.
SHLIBS="$BUILD/deb/shlibs"
mkdir -p "$SHLIBS/debian"
printf 'Source: %s\n\nPackage: %s\nArchitecture: any\n' "$NAME" "$NAME" >"$SHLIBS/debian/control"
DEPENDS=$(cd "$SHLIBS" && dpkg-shlibdeps -O "$STAGE/usr/bin/ivr-orvel" "$STAGE/usr/bin/ivr-pelion" |
    sed -n 's/^shlibs:Depends=//p')

(cd "$STAGE" && find usr lib -type f -exec md5sum {} + | sort -k 2) >"$STAGE/DEBIAN/md5sums"
chmod 0644 "$STAGE/DEBIAN/md5sums"
SIZE=$(du -sk --exclude=DEBIAN "$STAGE" | cut -f1)

cat >"$STAGE/DEBIAN/control" <<CONTROL
Package: $NAME
Version: $VERSION
Architecture: $ARCH
Maintainer: Tarvik IVR team <ivr@tarvik.example.net>
Installed-Size: $SIZE
Depends: $DEPENDS, adduser
Recommends: asterisk
Section: comm
Priority: optional
Homepage: https://tarvik.example.net/ivr
Description: customer-service voice menu of an ISP for Asterisk (AGI)
 Two AGI programs, ivr-orvel and ivr-pelion, that greet the caller, identify
 the customer by calling number or CPF/CNPJ, look the customer up in the
 provider's back office over its REST API, read and send invoices, offer a
 trust unlock of a blocked connection and hand the call back to the dial
 plan. Either runs per call from the dial plan or as a FastAGI service, and
 checks a configuration before a reload (--check).
 .
 Includes placeholder prompts and Brazilian Portuguese digit sounds spoken by
 a speech synthesiser, to be replaced with studio recordings.
CONTROL

DEB="$BUILD/${NAME}_${VERSION}_${ARCH}.deb"
dpkg-deb --root-owner-group -Zxz --build "$STAGE" "$DEB" >/dev/null
echo "$DEB"
