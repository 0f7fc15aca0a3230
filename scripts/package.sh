#!/usr/bin/env bash
# Builds the Debian package of Olvex Updater: the release configuration in
# build-release, packed by CPack, the .deb left in build/. Prints its path.
# Installs what is missing first (Debian, apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh --package
. scripts/lib.sh

dir=build-release
configure_build "$dir" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF
cmake --build "$dir" -j2 >&2 # Ninja prints compiler errors on stdout
rm -f "$dir"/*.deb
if ! (cd "$dir" && cpack -G DEB >cpack.log 2>&1); then
    cat "$dir/cpack.log" >&2
    exit 1
fi

mkdir -p build
debs=("$dir"/*.deb)
rm -f build/"$(basename "${debs[0]}")"
mv "${debs[0]}" build/
echo "build/$(basename "${debs[0]}")"
