#!/usr/bin/env bash
# Builds the Debian package from this build tree, unpacks it into a scratch
# root as dpkg would install it, and uses the installed tree alone: the files
# an administrator is told about are there, each exit library exports exactly
# velt_exit and WEP and carries its version, and the installed veltchan
# (the simulated channel agent) finds the installed exits without --lib-dir,
# loads them and carries a short run of every kind of segment through them
# intact.
#   package_deb_test.sh BUILD_DIR VERSION PREFIX EXITS_DIR FOUND_BY_DEFAULT ARCH
# FOUND_BY_DEFAULT is "no" for an exits folder configured absolute: veltchan
# then looks there, outside the scratch root, and is given --lib-dir. ARCH is
# the package's Debian architecture, "host" for the build machine's.
set -euo pipefail
build=$1 version=$2 prefix=$3 exits=$4 found_by_default=$5 arch=${6:-host}
[ "$arch" != host ] || arch=$(dpkg --print-architecture)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack could not build the package"
fi
debs=("$work"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
echo "package: $(basename "$deb")"

[ "$(dpkg-deb -f "$deb" Package)" = velt ] || fail "package name $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version $(dpkg-deb -f "$deb" Version), not $version"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "architecture $(dpkg-deb -f "$deb" Architecture), not $arch"
depends=$(dpkg-deb -f "$deb" Depends)
echo "depends: $depends"
grep -q 'libc6' <<<"$depends" || fail "the package depends on no libc6: shared library dependencies were not worked out"
# apt shows the description as it stands: no line past 80 columns.
long=$(dpkg-deb -f "$deb" Description | awk 'length > 80')
[ -z "$long" ] || fail "description lines longer than 80 columns: $long"

root=$work/root
dpkg -x "$deb" "$root"
for file in "$prefix/bin/veltchan" "$exits/VELTSEND.so" "$exits/VELTRECV.so" \
            "$prefix/share/man/man1/veltchan.1.gz" "$prefix/share/doc/velt/README.md" \
            "$prefix/share/doc/velt/examples/velt_exit.cfg" "$prefix/share/doc/velt/changelog.gz"; do
  [ -f "$root$file" ] || fail "$file is not in the package"
done
gzip -t "$root$prefix/share/man/man1/veltchan.1.gz" || fail "the man page is not gzip"
changelog=$root$prefix/share/doc/velt/changelog.gz
gzip -t "$changelog" || fail "the changelog is not gzip"
# Its newest entry is the packaged version, in Debian's changelog format.
newest=$(gzip -dc "$changelog" | sed -n '1s/^velt (\([^)]*\)) [a-z]*; urgency=[a-z]*$/\1/p')
[ "$newest" = "$version" ] || fail "the changelog's newest entry is \"$(gzip -dc "$changelog" | head -1)\", not velt ($version)"

for name in VELTSEND VELTRECV; do
  lib=$root$exits/$name.so
  exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | sort | tr '\n' ' ')
  [ "$exports" = "WEP velt_exit " ] || fail "installed $name.so exports: $exports(expected exactly velt_exit and WEP)"
  # Not "strings | grep -q": grep stopping early would fail the pipe.
  grep -qx "velt $version $name" <<<"$(strings "$lib")" || fail "installed $name.so carries no \"velt $version $name\""
done

veltchan=$root$prefix/bin/veltchan
# Full RELRO, as Debian builds its packages: relocations resolved at load,
# then read-only.
for elf in "$root$exits/VELTSEND.so" "$root$exits/VELTRECV.so" "$veltchan"; do
  readelf -lW "$elf" | grep -q GNU_RELRO || fail "$elf has no read-only relocations (GNU_RELRO)"
  readelf -dW "$elf" | grep -Eq 'BIND_NOW|Flags:.* NOW( |$)' || fail "$elf binds lazily (no BIND_NOW)"
done
[ "$("$veltchan" --version)" = "veltchan $version" ] || fail "installed veltchan --version says: $("$veltchan" --version)"

# Run from elsewhere, so nothing is found through the working directory.
cd "$work"
lib_dir=()
[ "$found_by_default" = yes ] || lib_dir=(--lib-dir "$root$exits")
rc=0
"$veltchan" --messages 300 --seed 7 --json "${lib_dir[@]}" >"$work/report.json" 2>"$work/err" || rc=$?
[ "$rc" -eq 0 ] || { cat "$work/err" "$work/report.json"; fail "installed veltchan ended with status $rc"; }
grep -q "\"lib_dir\": *\"$root$exits\"" "$work/report.json" ||
  fail "installed veltchan did not load the installed exits: $(grep -o '"lib_dir": *"[^"]*"' "$work/report.json")"
grep -q '"compressed": *[1-9]' "$work/report.json" || fail "the installed exits compressed no segment"
echo "installed veltchan over $root$exits: $(grep -o 'verdict: [^"]*' "$work/report.json")"
