#!/usr/bin/env bash
# The demo: builds the project, then shows the product at work.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
echo "Build complete; the demo grows with the product."
