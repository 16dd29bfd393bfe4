#!/usr/bin/env bash
# Makes a 32 MiB HFS volume with hfsutils (512-byte allocation blocks, so
# allocation block 0 lies at volume byte 9,728, as mkdisc requires).
#   make-hfs-volume.sh VOLUME.hfs LABEL
# hfsutils remembers its mounted volume in $HOME/.hcwd: callers that run in
# parallel should each set HOME to a folder of their own.
set -euo pipefail
volume=$1
label=$2
rm -f "$volume"
dd if=/dev/zero of="$volume" bs=1M count=32 status=none
hformat -l "$label" "$volume" >/dev/null
