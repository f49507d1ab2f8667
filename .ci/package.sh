#!/usr/bin/env bash
# The packages, into build/packages/: the Debian package from the release
# build and the zip for 32-bit Windows from the windows preset. Then checks
# the zip as an administrator receives it: exactly the two DLLs, the sample
# configuration and the install text; each DLL a 32-bit PE file exporting
# exactly velt_exit and WEP, with its version string and VERSIONINFO.
# (The .deb is tried in a scratch root by the CTest test package_deb.)
set -euo pipefail
cd "$(dirname "$0")/.."
. packaging/need-packages.sh
. .ci/dll-check.sh
mapfile -t packages < <(velt_package_list packaging/build-packages.txt)
velt_need_packages "${packages[@]}" g++-mingw-w64-i686 unzip

echo "== Debian package"
cmake --preset release >/dev/null
cmake --build --preset release
cpack --preset release

echo "== Windows zip"
cmake --preset windows >/dev/null
cmake --build --preset windows
cpack --preset windows

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt)
zip=build/packages/velt-$version-win32.zip
top=velt-$version-win32
listing=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
expected="$top/INSTALL.txt $top/VELTRECV.dll $top/VELTSEND.dll $top/velt_exit.cfg "
if [ "$listing" != "$expected" ]; then
  echo "$zip holds: $listing(expected $expected)"
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$zip" -d "$work"
for name in VELTSEND VELTRECV; do
  dll=$work/$top/$name.dll
  check_dll i686-w64-mingw32-objdump pei-i386 "$dll"
  grep -qx "velt $version $name" <<<"$(strings "$dll")" || { echo "$name.dll carries no \"velt $version $name\""; exit 1; }
  # VERSIONINFO strings are UTF-16.
  resource=$(strings -el "$dll" | tr '\n' ' ')
  if ! grep -q "FileVersion $version .*OriginalFilename $name.dll" <<<"$resource"; then
    echo "$name.dll has no VERSIONINFO for $version: $resource"
    exit 1
  fi
  echo "$name.dll: version $version (string and VERSIONINFO)"
done
echo "== packages:"
ls -l build/packages/velt_"$version"_*.deb "$zip"
