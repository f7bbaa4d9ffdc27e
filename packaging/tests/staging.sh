#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) and uses it as another
# program would: a C99 program built with pkg-config and the same program
# built by a CMake project with find_package(orvcomm), each reading a
# register of the installed emulator over UDP. Each pkg-config file, the
# installed one and the one of the development package (cpack), has to name
# the prefix its files are under, and the library's package has to tell
# dpkg-shlibdeps what that program depends on.
#
#   staging.sh <build folder> <this folder>
set -euo pipefail
build="$(cd "$1" && pwd)"
here="$(cd "$2" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/orv-staging.XXXXXX")"
emu_pid=""
cleanup() {
  if [ -n "$emu_pid" ]; then kill "$emu_pid" 2>/dev/null || true; wait "$emu_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

stage="$work/stage"
DESTDIR="$stage" cmake --install "$build" >"$work/install.log"
prefix="$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")"
root="$stage$prefix"

fail() { echo "FAIL: $*"; exit 1; }
# The pkg-config file of the tree <stage> names <prefix>, the prefix the
# files were installed for, and its folders hold the header and the library.
pc_points_home() {
  local tree=$1 want=$2 pc got dir
  pc="$(find "$tree" -name orvcomm.pc -print -quit)"
  [ -n "$pc" ] || fail "orvcomm.pc not installed in $tree"
  got="$(sed -n 's/^prefix=//p' "$pc")"
  [ "$got" = "$want" ] || fail "${pc#"$tree"} says prefix=$got, but its files are under $want"
  dir="$(PKG_CONFIG_PATH="$(dirname "$pc")" PKG_CONFIG_SYSROOT_DIR="$tree" pkg-config --variable=includedir orvcomm)"
  [ -f "$dir/orvcomm.h" ] || fail "${pc#"$tree"}: no orvcomm.h in its includedir ${dir#"$tree"}"
  dir="$(PKG_CONFIG_PATH="$(dirname "$pc")" PKG_CONFIG_SYSROOT_DIR="$tree" pkg-config --variable=libdir orvcomm)"
  [ -e "$dir/liborvcomm.so" ] || fail "${pc#"$tree"}: no liborvcomm.so in its libdir ${dir#"$tree"}"
}
pc_points_home "$stage" "$prefix"
pc="$(find "$root" -name orvcomm.pc -print -quit)"
libdir="$(dirname "$(dirname "$pc")")"
[ -f "$root/include/orvcomm.h" ] || fail "orvcomm.h not installed"
ls "$libdir"/liborvcomm.so.*.*.* >/dev/null 2>&1 || fail "no versioned liborvcomm.so.X.Y.Z"
[ -L "$libdir/liborvcomm.so" ] || fail "no liborvcomm.so link"
[ -L "$libdir/liborvcomm.so.3" ] || fail "no soname link liborvcomm.so.3"
for p in orvemu orvmon orvdde; do
  if [ -x "$build/bin/$p" ]; then [ -x "$root/bin/$p" ] || fail "$p not installed"; fi
done

# A library built with the sanitizers needs programs built with them too.
san=""
# (The whole list first: grep -q would stop reading early, and ldd, cut off,
# would fail the pipeline.)
case "$(ldd "$libdir/liborvcomm.so.3")" in *libasan*) san="-fsanitize=address,undefined" ;; esac

# The C program through pkg-config; the sysroot points the staged paths home.
export PKG_CONFIG_PATH="$libdir/pkgconfig"
export PKG_CONFIG_SYSROOT_DIR="$stage"
cc -std=c99 -Wall -Wextra -Werror -pedantic $san -o "$work/read_register_pc" "$here/consumer/read_register.c" \
  $(pkg-config --cflags --libs orvcomm)

# The same program through find_package.
cmake -S "$here/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$root" \
  -DCMAKE_C_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san" >"$work/consumer.log" \
  || { cat "$work/consumer.log"; fail "find_package(orvcomm) failed"; }
cmake --build "$work/consumer" >>"$work/consumer.log" || { cat "$work/consumer.log"; fail "consumer build failed"; }

# The library's packages, made by cpack for /usr whatever the build's own
# prefix: the development package's pkg-config file points where the two
# packages put their files; the library's package tells dpkg-shlibdeps what a
# program built against it depends on (its symbols file), and leaves ldconfig
# to the trigger. cpack installs from the two folders that install the
# library's part, so that its check that the tree is built covers those only.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/packages" -D "CPACK_COMPONENTS_ALL=runtime;dev" \
  -D "CPACK_INSTALL_CMAKE_PROJECTS=$build/library;orv;ALL;/;$build/packaging;orv;ALL;/" \
  -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
deb="" dev=""
for d in "$work/packages"/*.deb; do
  case "$(dpkg-deb -f "$d" Package)" in
    *-dev) dev="$d" ;;
    *) deb="$d" ;;
  esac
done
[ -n "$deb" ] && [ -n "$dev" ] || { cat "$work/cpack.log"; fail "cpack made no library and development packages"; }
for d in "$deb" "$dev"; do dpkg-deb -x "$d" "$work/installed"; done
pc_points_home "$work/installed" /usr
dpkg-deb -R "$deb" "$work/package"
package="$(dpkg-deb -f "$deb" Package)"
version="$(dpkg-deb -f "$deb" Version)"
[ ! -e "$work/package/DEBIAN/postinst" ] && [ ! -e "$work/package/DEBIAN/postrm" ] \
  || fail "$package calls ldconfig from a maintainer script"
grep -qx 'activate-noawait ldconfig' "$work/package/DEBIAN/triggers" 2>/dev/null || fail "$package has no ldconfig trigger"
packaged="$(dirname "$(find "$work/package" -name 'liborvcomm.so.*.*.*' -print -quit)")"
mkdir -p "$work/shlibdeps/debian"
: >"$work/shlibdeps/debian/control"
depends="$(cd "$work/shlibdeps" && dpkg-shlibdeps -O -l"$packaged" "$work/read_register_pc" 2>&1)" \
  || fail "dpkg-shlibdeps: $depends"
# The symbols file gives the upstream version of the symbols used (the shlibs
# file alone would give the package's version).
case "$depends" in
  *"$package (>= ${version%-*})"*) ;;
  *) fail "dpkg-shlibdeps gave no dependency on $package (>= ${version%-*}) from its symbols: $depends" ;;
esac

# The installed emulator on a loopback address of this run's own.
address="127.$(( ($$ >> 8) % 200 + 40 )).$(( $$ % 250 + 1 )).$(( RANDOM % 250 + 1 ))"
"$root/bin/orvemu" --udp "$address" >"$work/emu.out" 2>"$work/emu.err" &
emu_pid=$!
for _ in $(seq 200); do
  grep -q '^udp ' "$work/emu.out" && break
  kill -0 "$emu_pid" 2>/dev/null || fail "emulator: $(cat "$work/emu.err")"
  sleep 0.05
done
grep -q '^udp ' "$work/emu.out" || fail "the emulator did not start"

export LD_LIBRARY_PATH="$libdir"
got="$("$work/read_register_pc" "$address" 4242)" || fail "pkg-config program: $got"
[ "$got" = 4242 ] || fail "pkg-config program read $got"
got="$("$work/consumer/read_register" "$address" -17)" || fail "CMake program: $got"
[ "$got" = -17 ] || fail "CMake program read $got"

# The installed monitor answers --version without a display.
if [ -x "$root/bin/orvmon" ]; then
  "$root/bin/orvmon" --version | grep -q '^orvmon ' || fail "orvmon --version"
fi
echo "staged install works from C (pkg-config) and CMake (find_package)"
