# Sourced by the CI steps: velt_install_missing PKG... installs with apt what
# is not installed yet. A name without an architecture means the machine's own
# (or an "all" package): once the i386 architecture is enabled, a multiarch
# package such as libgtest-dev can be installed for i386 alone, and a plain
# `dpkg -s` then refuses the name as ambiguous.
velt_apt_updated=0

velt_installed() {
  local pkg=$1
  case $pkg in
    *:*) dpkg -s "$pkg" >/dev/null 2>&1 ;;
    *) dpkg-query -W -f='${db:Status-Abbrev}${Architecture}\n' "$pkg" 2>/dev/null |
         grep -qE "^ii *($(dpkg --print-architecture)|all)\$" ;;
  esac
}

velt_install_missing() {
  local need=() pkg
  for pkg in "$@"; do
    velt_installed "$pkg" || need+=("$pkg")
  done
  [ ${#need[@]} -eq 0 ] && return 0
  echo "== installing: ${need[*]}"
  if [ "$velt_apt_updated" -eq 0 ]; then
    # One index failing to download (a mirror in mid-sync) need not stop an
    # install the other lists can serve; the install says if it cannot.
    DEBIAN_FRONTEND=noninteractive apt-get update -qq ||
      echo "== apt-get update failed in part; installing from the lists at hand"
    velt_apt_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
}
