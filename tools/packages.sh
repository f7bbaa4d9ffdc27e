#!/usr/bin/env bash
# Makes the Debian packages of a built tree (cpack -G DEB) in
# <build folder>/packages and checks each with lintian: prints what lintian
# says, fails on any error. Installs lintian when it is missing.
#
#   tools/packages.sh [build folder]      (build/ by default)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/setup.sh
orv_install_missing lintian
build="$(cd "${1:-build}" && pwd)"
out="$build/packages"
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out") >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log"; exit 1; }
status=0
for deb in "$out"/*.deb; do
  printf '%-40s %8d bytes\n' "$(basename "$deb")" "$(stat -c %s "$deb")"
  # lintian warns when it runs as root; that says nothing about the package.
  lintian --fail-on error --tag-display-limit 0 "$deb" 2> >(grep -v 'running with root privileges' >&2) | sed 's/^/    /' \
    || status=1
done
[ "$status" -eq 0 ] && echo "packages: lintian found no error" || echo "packages: lintian found errors"
exit "$status"
