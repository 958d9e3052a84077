#!/usr/bin/env bash
# Installs the project and builds a program against it twice: through the
# CMake package and through pkg-config. For the static build given (library
# directory lib), a shared build (lib64) and both again with an absolute
# library directory, each built here (the library and the tool only). A tree
# whose directories are relative is moved after installing: it must not
# care. Nothing runs with LD_LIBRARY_PATH.
#   check_install.sh BUILD_DIR SAMPLE_FILE SOURCE_DIR
set -euo pipefail
static_build=$1
sample=$2
source=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset LD_LIBRARY_PATH

# The first file named `name` under the directories given that exist.
first() {
  local name=$1
  shift
  { find "$@" -name "$name" 2>/dev/null || true; } | head -1
}

for kind in static shared static-absolute shared-absolute; do
  build=$work/$kind-build
  libdir_option=()
  case $kind in
    static) build=$static_build ;;
    shared) libdir_option=(-DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_LIBDIR=lib64) ;;
    # With an absolute library directory the tree cannot move: its prefix
    # is the one configured, as distributions build.
    static-absolute)
      libdir_option=(-DCMAKE_INSTALL_LIBDIR="$work/$kind-libraries" -DCMAKE_INSTALL_PREFIX="$work/$kind-installed") ;;
    shared-absolute)
      libdir_option=(-DBUILD_SHARED_LIBS=ON -DCMAKE_INSTALL_LIBDIR="$work/$kind-libraries"
        -DCMAKE_INSTALL_PREFIX="$work/$kind-installed") ;;
  esac
  if [ "$kind" != static ]; then
    cmake -S "$source" -B "$build" -DBUILD_TESTING=OFF "${libdir_option[@]}" >/dev/null
    cmake --build "$build" -j2 --target velmora_fits tessary >/dev/null
  fi
  cmake --install "$build" --prefix "$work/$kind-installed" >/dev/null
  prefix=$work/$kind-installed
  case $kind in
    *-absolute) ;;
    *) mv "$prefix" "$work/$kind"; prefix=$work/$kind ;;
  esac

  for f in bin/tessary include/velmora/fits.h share/man/man1/tessary.1; do
    [ -f "$prefix/$f" ] || { echo "$kind: not installed: $f"; exit 1; }
  done
  pc=$(first velmora.pc "$prefix" "$work/$kind-libraries")
  [ -n "$pc" ] || { echo "$kind: not installed: velmora.pc"; exit 1; }
  pcdir=$(dirname "$pc")
  config=$(dirname "$(first velmoraConfig.cmake "$prefix" "$work/$kind-libraries")")
  major=$(sed -n 's/^Version: \([0-9]*\)\..*/\1/p' "$pc")
  case $kind in
    shared*)
      # The versioned library, its SONAME link and the development link.
      lib=$(first 'libvelmora_fits.so.*.*.*' "$prefix" "$work/$kind-libraries")
      [ -n "$lib" ] || { echo "$kind: no versioned library installed"; exit 1; }
      libdir=$(dirname "$lib")
      [ -L "$libdir/libvelmora_fits.so.$major" ] && [ -L "$libdir/libvelmora_fits.so" ] ||
        { echo "$kind: symlinks missing"; exit 1; }
      soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
      [ "$soname" = "libvelmora_fits.so.$major" ] || { echo "$kind: SONAME is '$soname'"; exit 1; }
      ;;
  esac

  expected=$("$prefix/bin/tessary" "$sample" | grep -c '^BITPIX')

  cmake -S "$here/consumer" -B "$work/$kind-cmake-build" -DCMAKE_PREFIX_PATH="$prefix" -Dvelmora_DIR="$config" \
    >/dev/null
  cmake --build "$work/$kind-cmake-build" >/dev/null
  by_cmake=$("$work/$kind-cmake-build/consumer" "$sample")

  c++ -o "$work/$kind-pc-consumer" "$here/consumer/main.cpp" \
    $(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs velmora)
  by_pkgconfig=$("$work/$kind-pc-consumer" "$sample")

  [ "$by_cmake" = "$by_pkgconfig" ] || { echo "$kind: the two consumers differ"; exit 1; }
  [ "$(printf '%s\n' "$by_cmake" | grep -c '^HDU kind')" = "$expected" ] ||
    { echo "$kind: consumer saw other HDUs than the tool"; exit 1; }
  [ "$(PKG_CONFIG_PATH="$pcdir" pkg-config --modversion velmora)" = "$(sed -n 's/^Version: //p' "$pc")" ]
  echo "$kind: installed, used through find_package and pkg-config: $by_cmake" | head -3
done
