#!/usr/bin/env bash
# The demo: installs what is missing, builds, packs the sample folder into a
# Kestrow PRO disc image (build/demo/demo.bin) and examines it with kestrow.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
"$root/scripts/make-demo-disc.sh" "$root/build/tools/mkdisc/mkdisc" "$demo/demo.bin"
kestrow="$root/build/src/cli/kestrow"

echo
echo "== kestrow check build/demo/demo.bin"
"$kestrow" check "$demo/demo.bin"
echo
echo "== kestrow info build/demo/demo.bin"
"$kestrow" info "$demo/demo.bin"
echo
echo "== kestrow list build/demo/demo.bin"
"$kestrow" list "$demo/demo.bin"
echo
echo "== kestrow recover build/demo/demo.bin -o build/demo/recovered --all"
"$kestrow" recover "$demo/demo.bin" -o "$demo/recovered" --all
find "$demo/recovered" -type f | sort | sed "s#^$demo/##"
