#!/usr/bin/env bash
# kestrow recover into destinations that hold traps: a symbolic link at the
# volume's folder, at a file's or at a companion's place, a named pipe or a
# read-only file at a file's place, the disc image itself at a file's place,
# and a disc file named like another file's companion. Nothing outside the destination may change, the job must
# end, and every file that is not written is named with the reason.
source "$(dirname "$0")/lib.sh"

label="Safe"
volume="$work/safe.hfs"
make_volume "$volume" "$label"
hmkdir "$label:Dir"
for name in Foo ._Foo Dir:plain Dir:link Dir:pipe disc.bin; do
  printf 'bytes of %s\n' "$name" > "$work/content"
  put_file "$work/content" "$label:$name" TEXT ttxt
done
humount "$label" >/dev/null
pack "$volume" "$work/disc.bin"

outside="$work/outside"
mkdir -p "$outside/folder"
printf 'keep me\n' > "$outside/target"
snapshot() { (cd "$outside" && find . -printf '%p %s %T@\n' | sort && cat target); }
snapshot > "$work/outside.before"

# recover_into DEST: recovers every file with a time limit, so that
# a job stuck on a named pipe fails the test instead of hanging it.
recover_into() {
  run timeout 60 "$KESTROW" recover "$work/image/disc.bin" -o "$1" --all
  [ "$status" != 124 ] || fail "the job into $1 did not end"
  snapshot | cmp -s "$work/outside.before" - || fail "something outside the destination changed ($1)"
}
mkdir -p "$work/image"
cp "$work/disc.bin" "$work/image/disc.bin"

# A symbolic link where the volume's folder goes: nothing is written.
dest="$work/dest-volume-link"
mkdir -p "$dest"
ln -s "$outside/folder" "$dest/$label"
recover_into "$dest"
expect_status 1 "symbolic link at the volume folder"
grep -q "^Recovered 0 of 6 file(s)" "$work/out" || fail "volume link: $(cat "$work/out")"
[ "$(grep -c "^Not written: $label:.* (a symbolic link is in its place)$" "$work/err")" = 6 ] ||
  fail "volume link: every file must be named with the reason: $(cat "$work/err")"

# A symbolic link and a named pipe at two files' places.
dest="$work/dest-traps"
mkdir -p "$dest/$label/Dir"
ln -s "$outside/target" "$dest/$label/Dir/link"
mkfifo "$dest/$label/Dir/pipe"
recover_into "$dest"
expect_status 1 "link and pipe at files' places"
grep -q "^Recovered 4 of 6 file(s)" "$work/out" || fail "traps: $(cat "$work/out")"
grep -qx "Not written: $label:Dir:link (a symbolic link is in its place)" "$work/err" || fail "link: $(cat "$work/err")"
grep -qx "Not written: $label:Dir:pipe (a named pipe is in its place)" "$work/err" || fail "pipe: $(cat "$work/err")"
[ -L "$dest/$label/Dir/link" ] && [ -p "$dest/$label/Dir/pipe" ] || fail "the traps were replaced"
[ "$(cat "$dest/$label/Dir/plain")" = "bytes of Dir:plain" ] || fail "Dir:plain was not written"

# "._Foo" on the disc beside "Foo": the catalogue lists "._Foo" first, so it
# keeps its name, and Foo moves aside with its companion.
[ "$(cat "$dest/$label/._Foo")" = "bytes of ._Foo" ] || fail "._Foo: $(ls -a "$dest/$label")"
[ "$(cat "$dest/$label/Foo (2)")" = "bytes of Foo" ] || fail "Foo was not kept apart: $(ls -a "$dest/$label")"
for companion in "._Foo (2)" "._._Foo"; do
  [ "$(bytes_at "$dest/$label/$companion" 0 4 | od -An -tx1 | tr -d ' ')" = 00051607 ] || fail "$companion is no companion"
done

# A symbolic link where a companion goes: the companion is not written and
# the file is reported, with or without --resource-forks (its data file stays).
for forks in "" --resource-forks; do
  dest="$work/dest-companion$forks"
  mkdir -p "$dest/$label/Dir"
  ln -s "$outside/target" "$dest/$label/Dir/._plain"
  run timeout 60 "$KESTROW" recover "$work/image/disc.bin" -o "$dest" --all $forks
  expect_status 1 "symbolic link at a companion's place ${forks:-(plain companions)}"
  grep -q "^Not written: $label:Dir:plain (its companion ._ file.*: a symbolic link is in its place)$" "$work/err" ||
    fail "companion link ${forks:-(plain)}: $(cat "$work/err")"
  grep -q "^Recovered 5 of 6 file(s)" "$work/out" || fail "companion link ${forks:-(plain)}: $(cat "$work/out")"
  [ -L "$dest/$label/Dir/._plain" ] || fail "the companion's link was replaced"
  snapshot | cmp -s "$work/outside.before" - || fail "a companion was written through a link"
done

# A read-only file where a file goes is left alone and reported, also for
# root (whom permissions do not stop).
dest="$work/dest-readonly"
mkdir -p "$dest/$label/Dir"
echo "read-only copy" > "$dest/$label/Dir/plain"
chmod 444 "$dest/$label/Dir/plain"
recover_into "$dest"
expect_status 1 "a read-only file at a file's place"
grep -qx "Not written: $label:Dir:plain (Permission denied)" "$work/err" || fail "read-only file: $(cat "$work/err")"
[ "$(cat "$dest/$label/Dir/plain")" = "read-only copy" ] || fail "the read-only file was replaced"

# The disc image itself where a recovered file goes: it is never written.
mkdir -p "$work/image/$label"
mv "$work/image/disc.bin" "$work/image/$label/disc.bin"
ln -s "$work/image/$label/disc.bin" "$work/image/disc.bin"   # the path recover_into reads
recover_into "$work/image"
expect_status 1 "the disc image at a file's place"
grep -qx "Not written: $label:disc.bin (the disc image being read is in its place)" "$work/err" ||
  fail "disc image: $(cat "$work/err")"
cmp -s "$work/disc.bin" "$work/image/$label/disc.bin" || fail "the disc image was changed"
grep -q "^Recovered 5 of 6 file(s)" "$work/out" || fail "disc image: $(cat "$work/out")"

pass
