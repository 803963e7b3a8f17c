#!/usr/bin/env bash
# Runs the demo against a finished build folder.
set -euo pipefail
build=${1:-build}
echo "The demo grows with the server; for now the build in $build is ready."
