#!/usr/bin/env bash
# Install what is missing, build, and run every test.
set -euo pipefail
cd "$(dirname "$0")"
. tools/setup.sh
orv_install_missing
orv_build
export QT_QPA_PLATFORM=offscreen
cd "$ORV_BUILD"
ctest --output-on-failure -j "$(orv_test_jobs)" --timeout 300
