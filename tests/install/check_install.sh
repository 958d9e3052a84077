#!/usr/bin/env bash
# Installs the built project to a temporary prefix and builds a program
# against it twice: through the CMake package and through pkg-config.
#   check_install.sh BUILD_DIR SAMPLE_FILE
set -euo pipefail
build=$1
sample=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/tessary include/velmora/fits.h share/man/man1/tessary.1; do
  [ -f "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
pcdir=$(dirname "$(find "$prefix" -name velmora.pc)")
[ -f "$pcdir/velmora.pc" ] || { echo "not installed: velmora.pc"; exit 1; }

expected=$("$prefix/bin/tessary" "$sample" | grep -c '^BITPIX')

cmake -S "$here/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
by_cmake=$("$work/cmake-build/consumer" "$sample")

c++ -o "$work/pc-consumer" "$here/consumer/main.cpp" \
  $(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs velmora)
by_pkgconfig=$("$work/pc-consumer" "$sample")

[ "$by_cmake" = "$by_pkgconfig" ] || { echo "the two consumers differ"; exit 1; }
[ "$(printf '%s\n' "$by_cmake" | grep -c '^HDU kind')" = "$expected" ] || { echo "consumer saw other HDUs than the tool"; exit 1; }
[ "$(PKG_CONFIG_PATH="$pcdir" pkg-config --modversion velmora)" = "$(sed -n 's/^Version: //p' "$pcdir/velmora.pc")" ]
echo "installed and used through find_package and pkg-config: $by_cmake" | head -3
