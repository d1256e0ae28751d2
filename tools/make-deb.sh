#!/usr/bin/env bash
# Makes the Debian package of the programs from a build of them (make deb):
#   make-deb.sh BUILD_DIRECTORY OUTPUT_DIRECTORY
# The build's install rules lay out the programs (stripped), their manual
# pages, README and license under /usr; the manual pages, the README and the
# changelog are gzipped and the license becomes the copyright file, as Debian
# wants them. The package's version is the project's (CMakeLists.txt), which
# must be the latest in packaging/changelog. Prints the package's path.
set -euo pipefail

fail() {
  echo "make-deb.sh: $*" >&2
  exit 3
}

[ $# -eq 2 ] || fail "usage: make-deb.sh BUILD_DIRECTORY OUTPUT_DIRECTORY"
build=$1
output=$2
packaging=$(cd "$(dirname "$0")/../packaging" && pwd)
package=diskette-image-tools
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt" 2>/dev/null) ||
  true
[ -n "$version" ] || fail "'$build' is no configured build."
[ "$(sed -n '1s/^[^ ]* (\([^)]*\)).*$/\1/p' "$packaging/changelog")" = "$version" ] ||
  fail "the latest version in packaging/changelog is not the project's $version."
architecture=$(dpkg --print-architecture)

umask 022
stage=$(mktemp -d "${TMPDIR:-/tmp}/$package.XXXXXX")
trap 'rm -rf "$stage"' EXIT
chmod 755 "$stage"
DESTDIR=$stage cmake --install "$build" --prefix /usr --strip >/dev/null
doc=$stage/usr/share/doc/$package
mv "$doc/LICENSE" "$doc/copyright"
gzip -9n "$doc/README.md"
gzip -9n <"$packaging/changelog" >"$doc/changelog.gz"
gzip -9n "$stage"/usr/share/man/man1/*.1
mkdir -p "$stage/usr/share/lintian/overrides"
cp "$packaging/lintian-overrides" "$stage/usr/share/lintian/overrides/$package"

mkdir "$stage/DEBIAN"
(cd "$stage" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$stage/DEBIAN/md5sums"
installed_size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$architecture/" \
  -e "s/@INSTALLED_SIZE@/$installed_size/" "$packaging/control" >"$stage/DEBIAN/control"
chmod 644 "$stage/DEBIAN/control" "$stage/DEBIAN/md5sums"

mkdir -p "$output"
rm -f "$output/${package}"_*.deb
deb="$output/${package}_${version}_${architecture}.deb"
dpkg-deb --root-owner-group -Zxz --build "$stage" "$deb" >/dev/null
echo "$deb"
