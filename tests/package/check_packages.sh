#!/usr/bin/env bash
# Builds and lints the Debian packages of a configured build folder, then
# builds three host programs against their unpacked files: the packaged
# example through CMake, two through pkg-config (one of docs/host-programs.md).
# Usage: check_packages.sh <build folder>
set -euo pipefail
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/debs" > "$work/cpack.log") || { cat "$work/cpack.log"; exit 1; }

echo "== lintian"
if command -v lintian > /dev/null; then
    # Errors fail the check; warnings are printed for a reader to weigh.
    status=0
    lintian --fail-on error "$work"/debs/*.deb > "$work/lintian.log" 2>&1 || status=$?
    grep -v '^running with root privileges' "$work/lintian.log" || true
    [ "$status" -eq 0 ] || { echo "lintian failed (exit $status)"; exit 1; }
else
    echo "lintian is not installed: packages not linted"
fi

root=$work/root
for deb in "$work"/debs/*.deb; do
    echo "== $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
    dpkg -x "$deb" "$root"
done

pc=$(find "$root" -name korcore.pc)
grep -qx "prefix=/usr" "$pc" || { echo "korcore.pc does not name /usr:"; cat "$pc"; exit 1; }
libdir=$(dirname "$(find "$root" -name 'libKorCore.so.*' -type f)")
# Debian's place for libraries: the folder of the architecture's triplet.
triplet=$(gcc -print-multiarch)
[ "$libdir" = "$root/usr/lib/$triplet" ] || { echo "libraries in ${libdir#"$root"}, not /usr/lib/$triplet"; exit 1; }
grep -qx "libdir=\${prefix}/lib/$triplet" "$pc" || { echo "korcore.pc's libdir is not lib/$triplet:"; cat "$pc"; exit 1; }

echo "== CMake package"
examples=$root/usr/share/doc/libkorcore-dev/examples
for f in hostexample/main.cpp sample/updater/setup.xml sample/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini; do
    [ -f "$examples/$f" ] || { echo "libkorcore-dev lacks examples/$f"; exit 1; }
done
cmp -s "$examples/hostexample/main.cpp" "$source_dir/examples/hostexample/main.cpp" \
    || { echo "the packaged example is not examples/hostexample/main.cpp"; exit 1; }
# The packaged example as a reader builds it, against the unpacked packages.
cmake -S "$examples/hostexample" -B "$work/host" -DCMAKE_FIND_ROOT_PATH="$root" \
    > "$work/host.log" || { cat "$work/host.log"; exit 1; }
grep -q "^KorCore_DIR:PATH=$root/" "$work/host/CMakeCache.txt" || { grep KorCore_DIR "$work/host/CMakeCache.txt"; exit 1; }
cmake --build "$work/host" -j2 > "$work/host-build.log" || { cat "$work/host-build.log"; exit 1; }
# The packaged sample machine, moved from the root its paths name to one of
# the check's own: the program reads its identity and set-up file first.
sample_root=$(sed -n 's|^UpdaterConfigPath=\(.*\)/updater$|\1|p' "$examples/sample/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini")
[ -n "$sample_root" ] || { echo "the sample store names no UpdaterConfigPath"; exit 1; }
cp -r "$examples/sample" "$work/sample"
sed -i "s|$sample_root|$work/sample|" "$work/sample/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Kor.ini" \
    "$work/sample/updater/setup.xml"
(cd "$work" && KOR_REGISTRY_ROOT=$work/sample/registry LD_LIBRARY_PATH=$libdir "$work/host/Kor.Example" --version) \
    > "$work/example.log" 2>&1 || { cat "$work/example.log"; exit 1; }
cat "$work/example.log"
if grep -qi "setup config" "$work/example.log"; then echo "the packaged setup.xml does not load"; exit 1; fi

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
(cd "$work" && KOR_REGISTRY_ROOT=$work/sample/registry LD_LIBRARY_PATH=$libdir "$work/Kor.Counter" --version)
echo "packages: ok"
