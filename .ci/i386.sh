#!/usr/bin/env bash
# Linux i386 build of the whole tree (g++ -m32) and every test in it: where
# pointers are four bytes, the context pointer in ExitUserArea, the records'
# offsets and the codec's SSE2 path on i686 are what they are on 32-bit
# Windows. The programs run natively where the kernel runs i386 programs,
# otherwise under qemu-i386 (see .ci/i386-env.sh). Re-running reuses the build
# in build/i386 and the emulator in build/i386-emulator.
#
#   .ci/i386.sh                  build and run every test
#   .ci/i386.sh COMMAND [ARG...] run COMMAND instead (say one i386 test
#                                program), with i386 programs made runnable
set -euo pipefail
cd "$(dirname "$0")/.."
. .ci/i386-env.sh

. packaging/need-packages.sh

velt_i386_enable
if [ -z "$VELT_I386_MODE" ]; then
  velt_i386_skip "i386 test suite"
  exit $?
fi

if [ $# -gt 0 ]; then
  echo "== i386 programs: $VELT_I386_HOW"
  "$@"
  exit $?
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "== enabling the i386 architecture for the i386 development packages"
  dpkg --add-architecture i386
  velt_apt_updated=0
fi
# zlib comes as lib32z1-dev (the multilib package of the host's own zlib
# version); the i386 GoogleTest, benchmark and fmt packages are multiarch.
velt_need_packages g++-multilib lib32z1-dev libgtest-dev:i386 libgmock-dev:i386 \
  libbenchmark-dev:i386 libfmt-dev:i386 liblz4-dev:i386 libcli11-dev nlohmann-json3-dev

echo "== i386 test suite: $VELT_I386_HOW"
cmake --workflow --preset i386
echo "== i386 test suite passed ($VELT_I386_MODE)"
