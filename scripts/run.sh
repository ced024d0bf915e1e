#!/usr/bin/env bash
# Installs what is missing and builds the product.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
echo "The product: $root/build/i686/ui/TavokRemover.exe"
