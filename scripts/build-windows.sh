#!/usr/bin/env bash
# Cross-builds the core, kestrow.exe, the desktop application KestrowDiag.exe
# (Win32 dialogs; Debian has no Qt for Windows), mkdisc.exe and the tests for
# 64-bit Windows with Debian's mingw-w64 (posix threads), into build-windows/;
# checks that the programs need no DLL but Windows' own; and packs
# build-windows/kestrow-windows-x64.zip with the programs and a README.
# (`KESTROW_WINDOWS=ON scripts/setup.sh` installs the compilers.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build-windows"
triple=x86_64-w64-mingw32

cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DKESTROW_GUI=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" --target kestrow KestrowDiag mkdisc kestrow_unit_tests kestrow_app_tests kestrow_win32_tests \
  kestrow_win32_smoke

programs=("$dir/src/cli/kestrow.exe" "$dir/src/win32/KestrowDiag.exe" "$dir/tools/mkdisc/mkdisc.exe"
  "$dir/tests/kestrow_unit_tests.exe" "$dir/tests/app/kestrow_app_tests.exe" "$dir/tests/win32/kestrow_win32_tests.exe"
  "$dir/tests/win32/kestrow_win32_smoke.exe")
# Statically linked: the C++ runtime, libgcc and winpthreads are inside.
# What is left must come with every Windows.
for program in "${programs[@]}"; do
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | shell32.dll | comctl32.dll | comdlg32.dll | \
        gdi32.dll | ole32.dll | oleaut32.dll | shlwapi.dll | uxtheme.dll) ;;
      *) echo "build-windows: $(basename "$program") needs $dll, which Windows does not bring" >&2; exit 1 ;;
    esac
  done < <("$triple-objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
done

package="$dir/package/kestrow-windows-x64"
rm -rf "$dir/package" "$dir/kestrow-windows-x64.zip"
mkdir -p "$package"
"$triple-strip" -o "$package/kestrow.exe" "$dir/src/cli/kestrow.exe"
"$triple-strip" -o "$package/KestrowDiag.exe" "$dir/src/win32/KestrowDiag.exe"
"$triple-strip" -o "$package/mkdisc.exe" "$dir/tools/mkdisc/mkdisc.exe"
sed 's/$/\r/' "$root/docs/windows/README.txt" > "$package/README.txt"   # CR LF for Notepad
(cd "$dir/package" && zip -q -X -r "$dir/kestrow-windows-x64.zip" kestrow-windows-x64)
echo "build-windows: $dir/kestrow-windows-x64.zip"
