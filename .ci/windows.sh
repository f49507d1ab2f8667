#!/usr/bin/env bash
# Windows build of the exit libraries: cross-builds VELTSEND.dll and
# VELTRECV.dll for 32-bit Windows with mingw-w64 (i686), checks that each
# exports exactly velt_exit and WEP and needs no DLL beyond the system's, and
# runs the Windows test program under wine in a fresh wine prefix.
#
# Where the kernel runs no 32-bit programs (IA32 emulation switched off), wine32
# cannot start at all. The 32-bit DLLs are then still built and checked, and
# the same test runs on the 64-bit Windows build under wine64, with a loud
# notice that the 32-bit run did not happen.
set -euo pipefail
cd "$(dirname "$0")/.."

export DEBIAN_FRONTEND=noninteractive
apt_updated=0
install_missing() {
  local need=() pkg
  for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  echo "== installing: ${need[*]}"
  if [ "$apt_updated" -eq 0 ]; then
    apt-get update -qq
    apt_updated=1
  fi
  apt-get install -y -qq "${need[@]}" >/dev/null
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "== enabling the i386 architecture for wine32"
  dpkg --add-architecture i386
  apt_updated=0
fi
install_missing g++-mingw-w64-i686 wine wine32:i386

# Each DLL exports exactly velt_exit and WEP, undecorated, and imports only
# from the system (no libgcc, libstdc++ or winpthread DLL at the queue manager).
check_dll() {
  local objdump=$1 format=$2 dll=$3 headers exports imports
  headers=$("$objdump" -p "$dll")
  if ! grep -q "file format $format" <<<"$headers"; then
    echo "$dll is not $format"
    return 1
  fi
  exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next }
         on && /^\t\[/ { print $NF; next }
         on { on = 0 }' <<<"$headers" | sort | tr '\n' ' ')
  if [ "$exports" != "WEP velt_exit " ]; then
    echo "$dll exports: $exports(expected exactly velt_exit and WEP)"
    return 1
  fi
  imports=$(awk '/DLL Name:/ { print $3 }' <<<"$headers" | sort -u | tr '\n' ' ')
  if [ "$imports" != "KERNEL32.dll msvcrt.dll " ]; then
    echo "$dll imports from: $imports(expected KERNEL32.dll and msvcrt.dll only)"
    return 1
  fi
  echo "$dll: exports $exports; imports $imports"
}

# Runs the test program under the given wine loader in a prefix of its own.
run_test() {
  local loader=$1 arch=$2 exe=$3 work rc=0
  work=$(mktemp -d /tmp/velt-wine.XXXXXX)
  export WINEPREFIX=$work/prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  echo "== $exe under $loader (fresh prefix; the first start sets it up)"
  timeout 600 "$loader" "$exe" </dev/null || rc=$?
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  unset WINEPREFIX WINEARCH WINEDEBUG WINEDLLOVERRIDES
  rm -rf "$work"
  return $rc
}

# True when 32-bit x86 programs run natively here. A binfmt entry that hands
# them to an emulator does not count: wine under emulation is far too slow.
runs_32bit_natively() {
  if grep -qs 'interpreter .*qemu-i386' /proc/sys/fs/binfmt_misc/* 2>/dev/null; then
    return 1
  fi
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

echo "== Windows (i686) build"
cmake --preset windows >/dev/null
cmake --build --preset windows

echo "== exports and imports of the 32-bit DLLs"
for dll in build/windows/bin/VELTSEND.dll build/windows/bin/VELTRECV.dll; do
  check_dll i686-w64-mingw32-objdump pei-i386 "$dll"
done

if runs_32bit_natively; then
  run_test wine win32 build/windows/bin/velt_windows_test.exe
else
  echo "== NOTICE: this kernel runs no 32-bit programs (IA32 emulation is off), so wine32 cannot start."
  echo "== NOTICE: the 32-bit DLLs are built and checked; the Windows test runs on the 64-bit build under wine64."
  install_missing g++-mingw-w64-x86-64-win32 wine64
  echo "== Windows (x86_64) build"
  cmake --preset windows64 >/dev/null
  cmake --build --preset windows64
  for dll in build/windows64/bin/VELTSEND.dll build/windows64/bin/VELTRECV.dll; do
    check_dll x86_64-w64-mingw32-objdump pei-x86-64 "$dll"
  done
  run_test /usr/lib/wine/wine64 win64 build/windows64/bin/velt_windows_test.exe
fi
echo "== Windows checks passed"
