# Sourced by velt.sh and the CI scripts: velt_need_packages PACKAGE...
# installs those of the Debian packages that are missing, saying which, when
# running as root; otherwise prints the apt-get line to run and exits with 2.
velt_need_packages() {
  local missing=() pkg
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "velt: this needs a Debian system (dpkg-query not found); install by hand: $*" >&2
    exit 2
  fi
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q ' installed$' || missing+=("$pkg")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "velt: the $# Debian packages needed are installed"
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then
    echo "velt: missing Debian packages: ${missing[*]}" >&2
    echo "velt: run as root: apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
    exit 2
  fi
  echo "velt: installing: ${missing[*]}"
  # Another apt run on the machine may hold its locks for a while: dpkg's is
  # waited for by apt itself, the package lists' lock by trying again.
  local apt=(apt-get -o DPkg::Lock::Timeout=600 -qq) try
  for try in $(seq 60); do
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" update && break
    [ "$try" -lt 60 ] || exit 1
    echo "velt: apt-get update failed; trying again in 10 s"
    sleep 10
  done
  DEBIAN_FRONTEND=noninteractive "${apt[@]}" install -y --no-install-recommends "${missing[@]}" >/dev/null
  echo "velt: installed: ${missing[*]}"
}

# The packages listed in a file: one per line, # starts a comment.
velt_package_list() {
  sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$1"
}
