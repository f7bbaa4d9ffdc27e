#!/usr/bin/env bash
# Makes the Debian packages of a built tree (cpack -G DEB), for /usr whatever
# the build's own prefix, in <build folder>/packages, and checks them all, the
# debug-symbol packages (.ddeb) too, with lintian as one upload, with every
# tag it knows (-I -E --pedantic). Prints what lintian says and fails on any
# tag but those kept below. Installs lintian (with apt-get) when it is missing.
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

# Tags kept, with the reason:
#   initial-upload-closes-no-bugs: the changelog's first entry closes no bug
#     of Debian's; these packages are not uploaded there.
kept="initial-upload-closes-no-bugs"

packages=("$out"/*.deb "$out"/*.ddeb)
for p in "${packages[@]}"; do
  printf '%-44s %9d bytes\n' "$(basename "$p")" "$(stat -c %s "$p")"
done
# lintian warns when it runs as root; that says nothing about the packages.
# It fails here only when it could not check them.
lintian -I -E --pedantic --fail-on none --tag-display-limit 0 "${packages[@]}" >"$out/lintian.log" \
  2> >(grep -v 'running with root privileges' >&2)
sed 's/^/    /' "$out/lintian.log"
others="$(grep -E '^[EWIPXO]: ' "$out/lintian.log" | grep -vwE "$(tr ' ' '|' <<<"$kept")" || true)"
if [ -n "$others" ]; then
  echo "packages: lintian found $(wc -l <<<"$others") tag(s) besides $kept"
  exit 1
fi
echo "packages: lintian found nothing besides $kept"
