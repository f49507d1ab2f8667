#!/usr/bin/env bash
# Windows build of the exit libraries: cross-builds VELTSEND.dll and
# VELTRECV.dll for 32-bit Windows with mingw-w64 (i686), checks that each
# exports exactly velt_exit and WEP and needs no DLL beyond the system's, and
# runs the Windows test program under wine32 in a fresh wine prefix.
#
# wine32 is an i386 program: it runs natively where the kernel runs i386
# programs, otherwise under qemu-i386 through binfmt_misc (.ci/i386-env.sh).
# The step says in one line which way it ran; it is skipped, without failing,
# only where neither can work (no IA32 emulation and the emulator cannot be
# fetched).
set -euo pipefail
cd "$(dirname "$0")/.."
. .ci/i386-env.sh

. packaging/need-packages.sh
. .ci/dll-check.sh

velt_need_packages g++-mingw-w64-i686

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

echo "== Windows (i686) build"
cmake --preset windows >/dev/null
cmake --build --preset windows

echo "== exports and imports of the 32-bit DLLs"
for dll in build/windows/bin/VELTSEND.dll build/windows/bin/VELTRECV.dll; do
  check_dll i686-w64-mingw32-objdump pei-i386 "$dll"
done

velt_i386_enable
if [ -z "$VELT_I386_MODE" ]; then
  velt_i386_skip "32-bit Windows test"
  exit $?
fi
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "== enabling the i386 architecture for wine32"
  dpkg --add-architecture i386
  velt_apt_updated=0
fi
velt_need_packages wine wine32:i386
echo "== 32-bit Windows test: $VELT_I386_HOW"
run_test wine win32 build/windows/bin/velt_windows_test.exe
echo "== Windows checks passed"
