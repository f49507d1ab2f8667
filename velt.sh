#!/usr/bin/env bash
# Quick start, from a fresh Debian machine or an existing build:
#   ./velt.sh run [veltchan options]   build, then run veltchan (the built-in workload by default)
#   ./velt.sh test                     build and run every test (what CI runs first)
# Both first install the Debian packages in packaging/build-packages.txt that
# are missing (as root; otherwise they print the apt-get line and exit with 2).
set -euo pipefail
cd "$(dirname "$0")"
. packaging/need-packages.sh

usage() {
  echo "usage: ./velt.sh run [veltchan options] | ./velt.sh test" >&2
  exit 2
}

[ $# -ge 1 ] || usage
command=$1
shift
case "$command" in
  run | test) ;;
  *) usage ;;
esac
[ "$command" = run ] || [ $# -eq 0 ] || usage

mapfile -t packages < <(velt_package_list packaging/build-packages.txt)

case "$command" in
  run)
    # Standard output is veltchan's alone (./velt.sh run --json > report.json):
    # the packages and the build report on standard error.
    velt_need_packages "${packages[@]}" >&2
    cmake --preset release >&2
    cmake --build --preset release --target veltchan >&2
    exec build/release/bin/veltchan "$@"
    ;;
  test)
    velt_need_packages "${packages[@]}"
    # The workflow builds everything and runs CTest, which includes building
    # the Debian package and trying it in a scratch root.
    exec cmake --workflow --preset test
    ;;
esac
