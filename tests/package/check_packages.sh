#!/usr/bin/env bash
# Builds the Debian packages from a configured build folder, unpacks them
# into a scratch root and builds three host programs against what they hold:
# one through the CMake package, two through pkg-config (the second is the
# program of docs/host-programs.md, with its moc step run by hand).
# Usage: check_packages.sh <build folder>
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/debs" > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }
root=$work/root
for deb in "$work"/debs/*.deb; do
    echo "== $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
    dpkg -x "$deb" "$root"
done

pc=$(find "$root" -name korcore.pc)
grep -qx "prefix=/usr" "$pc" || { echo "korcore.pc does not name /usr:"; cat "$pc"; exit 1; }
libdir=$(dirname "$(find "$root" -name 'libKorCore.so.*' -type f)")

echo "== CMake package"
cmake -S "$here/host" -B "$work/host" -DCMAKE_FIND_ROOT_PATH="$root" \
    -DHOST_SOURCE="$source_dir/examples/hostexample/main.cpp" > "$work/host.log" || { cat "$work/host.log"; exit 1; }
grep -q "^KorCore_DIR:PATH=$root/" "$work/host/CMakeCache.txt" || { grep KorCore_DIR "$work/host/CMakeCache.txt"; exit 1; }
cmake --build "$work/host" -j2 > "$work/host-build.log" || { cat "$work/host-build.log"; exit 1; }
# A machine of its own: the program reads its identity before anything else.
mkdir -p "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE" "$work/updater"
printf '[Common]\nmachineId={3f2b8c1e-5a7d-4e9f-b6c0-1d2e3f4a5b6c}\nUpdaterConfigPath=%s\n' "$work/updater" \
    > "$work/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini"
(cd "$work" && KOR_REGISTRY_ROOT=$work/registry LD_LIBRARY_PATH=$libdir "$work/host/outside_host" --version)

echo "== pkg-config"
# The file says /usr; here the package lives below the scratch root.
mkdir -p "$work/pc"
sed "s|^prefix=/usr\$|prefix=$root/usr|" "$pc" > "$work/pc/korcore.pc"
flags=$(PKG_CONFIG_PATH=$work/pc pkg-config --cflags --libs korcore)
g++ -std=c++20 -fPIC "$here/pkgconfig_host.cpp" $flags -o "$work/pkgconfig_host"
LD_LIBRARY_PATH=$libdir "$work/pkgconfig_host"

echo "== pkg-config and moc by hand: the program of docs/host-programs.md"
awk '/^```cpp$/ { on = 1; next } /^```$/ { on = 0 } on' "$source_dir/docs/host-programs.md" > "$work/main.cpp"
"$(PKG_CONFIG_PATH=$work/pc pkg-config --variable=libexecdir Qt6Core)/moc" "$work/main.cpp" -o "$work/main.moc"
g++ -std=c++20 -fPIC -I"$work" "$work/main.cpp" $flags -o "$work/Kor.Counter"
(cd "$work" && KOR_REGISTRY_ROOT=$work/registry LD_LIBRARY_PATH=$libdir "$work/Kor.Counter" --version)
echo "packages: ok"
