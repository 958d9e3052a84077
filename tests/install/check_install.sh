#!/usr/bin/env bash
# Installs the project to a temporary prefix, moves the installed tree, and
# builds a program against it twice: through the CMake package and through
# pkg-config. Once for the static build given, once for a shared build made
# here (the library and the tool only). Nothing runs with LD_LIBRARY_PATH.
#   check_install.sh BUILD_DIR SAMPLE_FILE SOURCE_DIR
set -euo pipefail
static_build=$1
sample=$2
source=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH

for kind in static shared; do
  build=$static_build
  if [ "$kind" = shared ]; then
    build=$work/shared-build
    cmake -S "$source" -B "$build" -DBUILD_SHARED_LIBS=ON -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$build" -j2 --target velmora_fits tessary >/dev/null
  fi
  # Installed in one place, used from another: the tree must not care.
  cmake --install "$build" --prefix "$work/$kind-installed" >/dev/null
  mv "$work/$kind-installed" "$work/$kind"
  prefix=$work/$kind

  for f in bin/tessary include/velmora/fits.h share/man/man1/tessary.1; do
    [ -f "$prefix/$f" ] || { echo "$kind: not installed: $f"; exit 1; }
  done
  pcdir=$(dirname "$(find "$prefix" -name velmora.pc)")
  [ -f "$pcdir/velmora.pc" ] || { echo "$kind: not installed: velmora.pc"; exit 1; }
  if [ "$kind" = shared ]; then
    # The versioned library, its SONAME link and the development link.
    lib=$(find "$prefix" -name 'libvelmora_fits.so.*.*.*')
    [ -n "$lib" ] || { echo "shared: no versioned library installed"; exit 1; }
    libdir=$(dirname "$lib")
    major=$(sed -n 's/^Version: \([0-9]*\)\..*/\1/p' "$pcdir/velmora.pc")
    [ -L "$libdir/libvelmora_fits.so.$major" ] && [ -L "$libdir/libvelmora_fits.so" ] ||
      { echo "shared: symlinks missing"; exit 1; }
    soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
    [ "$soname" = "libvelmora_fits.so.$major" ] || { echo "shared: SONAME is '$soname'"; exit 1; }
  fi

  expected=$("$prefix/bin/tessary" "$sample" | grep -c '^BITPIX')

  cmake -S "$here/consumer" -B "$work/$kind-cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$work/$kind-cmake-build" >/dev/null
  by_cmake=$("$work/$kind-cmake-build/consumer" "$sample")

  c++ -o "$work/$kind-pc-consumer" "$here/consumer/main.cpp" \
    $(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs velmora)
  by_pkgconfig=$("$work/$kind-pc-consumer" "$sample")

  [ "$by_cmake" = "$by_pkgconfig" ] || { echo "$kind: the two consumers differ"; exit 1; }
  [ "$(printf '%s\n' "$by_cmake" | grep -c '^HDU kind')" = "$expected" ] ||
    { echo "$kind: consumer saw other HDUs than the tool"; exit 1; }
  [ "$(PKG_CONFIG_PATH="$pcdir" pkg-config --modversion velmora)" = "$(sed -n 's/^Version: //p' "$pcdir/velmora.pc")" ]
  echo "$kind: installed, moved and used through find_package and pkg-config: $by_cmake" | head -3
done
