#!/usr/bin/env bash
# The demo: installs what is missing, builds, packs the sample folder into a
# Kestrow PRO disc image (build/demo/demo.bin) and examines it with kestrow.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
"$root/scripts/build.sh"

demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo/home"
export HOME="$demo/home"   # hfsutils keeps its current volume here
sample="$root/sample"
volume="$demo/demo.hfs"

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

"$root/build/tools/mkdisc/mkdisc" "$volume" "$demo/demo.bin"
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
