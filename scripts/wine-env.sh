# shellcheck shell=bash
# Sourced by the scripts that run the Windows build under Wine: a prefix of
# its own inside the build folder (never the user's ~/.wine), no debug
# chatter, and no offer to install Mono or Gecko when the prefix is made.
# Wine's 64-bit loader runs the 64-bit programs; wine32 is not needed.
# shellcheck disable=SC2155
export WINEPREFIX="${KESTROW_WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-windows/wine-prefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# run_wine ARGS...: wine in a UTF-8 locale, in which Wine reads its
# arguments and writes file names as UTF-8 (in the C locale it would turn
# every character outside ASCII into '?').
run_wine() { LC_ALL=C.UTF-8 wine "$@"; }

# winpath PATH: the Windows name of a Linux path (Wine's drive Z: is /).
winpath() {
  local path
  path=$(realpath -m "$1")
  printf 'Z:%s' "${path//\//\\}"
}
