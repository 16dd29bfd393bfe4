#!/usr/bin/env bash
# Packs the files of sample/ into the demo's Kestrow PRO disc image: a fresh
# HFS volume made by hfsutils, with Mac names, types and creators (see
# sample/README.md), packed by mkdisc.
#   make-demo-disc.sh MKDISC DISC.bin
# The volume is left beside the disc as DISC.hfs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mkdisc=$1
disc=$2
volume="${disc%.*}.hfs"
sample="$root/sample"

# hfsutils keeps its current volume in $HOME/.hcwd: a home of our own.
HOME=$(mktemp -d "${TMPDIR:-/tmp}/kestrow-demo-home.XXXXXX")
export HOME
trap 'rm -rf "$HOME"' EXIT

"$root/scripts/make-hfs-volume.sh" "$volume" "Family Archive"
hmount "$volume" >/dev/null
put() {  # put LOCAL-FILE MAC-PATH TYPE CREATOR
  hcopy -r "$1" "$2"
  hattrib -t "$3" -c "$4" "$2"
}
hmkdir ":Letters" ":Recipes" ":Recipes:Baking" ":Accounts"
put "$sample/Read Me.txt" ":Read Me" TEXT ttxt
put "$sample/Letters/To Grandma.txt" ":Letters:To Grandma" TEXT ttxt
put "$sample/Letters/From Uncle Peter.txt" ":Letters:From Uncle Peter" TEXT ttxt
put "$sample/Recipes/Baking/Apple Pie.txt" ":Recipes:Baking:Apple Pie" TEXT ttxt
put "$sample/Recipes/Baking/Shortbread.txt" ":Recipes:Baking:Shortbread" TEXT ttxt
put "$sample/Accounts/Budget 1995-96.csv" ":Accounts:Budget 1995/96" TEXT XCEL
humount >/dev/null

"$mkdisc" "$volume" "$disc"
