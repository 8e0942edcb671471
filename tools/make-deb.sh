#!/bin/sh
# Builds the Debian package of the tree with dpkg-buildpackage (debian/,
# debhelper) and leaves in BUILD:
#   tarvik-kestro-ivr_VERSION_ARCH.deb         the programs and all else
#   tarvik-kestro-ivr-dbgsym_VERSION_ARCH.deb  their debug symbols
#   tarvik-kestro-ivr_VERSION_ARCH.buildinfo and .changes (lintian reads
#   the .changes: both packages at once)
# dpkg-buildpackage writes beside the tree (its parent folder) unless told
# otherwise; everything goes to BUILD here, so a clone in an empty folder
# leaves nothing outside itself. The tree is cleaned after a build that
# went through (debian/build holds the package's own build).
# Usage: tools/make-deb.sh [BUILD]   (needs debhelper; see make deb)
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "${1:-build}"
BUILD=$(cd "${1:-build}" && pwd)
NAME=tarvik-kestro-ivr
VERSION=$(sed -n 's/^project(tarvik_ivr VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
ARCH=$(dpkg --print-architecture)

# The package's version is the one of CMakeLists' project(): a release
# bumps both.
PACKAGED=$(dpkg-parsechangelog -l "$ROOT/debian/changelog" -S Version)
if [ "$PACKAGED" != "$VERSION" ]; then
    echo "debian/changelog is at $PACKAGED, CMakeLists.txt at $VERSION: add a changelog entry (dch -v $VERSION)" >&2
    exit 1
fi

rm -f "$BUILD/${NAME}_"*.deb "$BUILD/${NAME}-dbgsym_"*.deb "$BUILD/${NAME}_"*.buildinfo "$BUILD/${NAME}_"*.changes
cd "$ROOT"
# IVR_DEB_DESTDIR: where debian/rules has dh_builddeb put the packages.
sh tools/quiet-step.sh "dpkg-buildpackage (hardened build in debian/build/)" \
    "$BUILD/logs/deb-build.log" \
    env IVR_DEB_DESTDIR="$BUILD" dpkg-buildpackage -us -uc -b --post-clean -J"${JOBS:-2}" \
    --buildinfo-option=-u"$BUILD" --buildinfo-file="$BUILD/${NAME}_${VERSION}_${ARCH}.buildinfo" \
    --changes-option=-u"$BUILD" --changes-file="$BUILD/${NAME}_${VERSION}_${ARCH}.changes"
for deb in "$BUILD/${NAME}_${VERSION}_${ARCH}.deb" "$BUILD/${NAME}-dbgsym_${VERSION}_${ARCH}.deb"; do
    [ -f "$deb" ] || { echo "dpkg-buildpackage made no $deb" >&2; exit 1; }
    echo "$deb"
done
