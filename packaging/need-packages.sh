# Sourced by velt.sh and the CI scripts: velt_need_packages PACKAGE...
# installs those of the Debian packages that are missing, saying which, when
# running as root; otherwise prints the apt-get line to run and exits with 2.

# A name without an architecture means the machine's own (or an "all"
# package): once the i386 architecture is enabled, a multiarch package such as
# libgtest-dev can be installed for i386 alone, and a plain `dpkg -s` then
# refuses the name as ambiguous. Installed is the second letter of the status
# ("ii", or "hi" for a package on hold).
velt_installed() {
  local pkg=$1
  case $pkg in
    *:*) dpkg -s "$pkg" >/dev/null 2>&1 ;;
    *) dpkg-query -W -f='${db:Status-Abbrev}${Architecture}\n' "$pkg" 2>/dev/null |
         grep -qE "^[a-z]i +($(dpkg --print-architecture)|all)\$" ;;
  esac
}

velt_need_packages() {
  local missing=() pkg
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "velt: this needs a Debian system (dpkg-query not found); install by hand: $*" >&2
    exit 2
  fi
  for pkg in "$@"; do
    velt_installed "$pkg" || missing+=("$pkg")
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
  # waited for by apt itself, the package lists' lock by trying again. One
  # index failing to download (a mirror in mid-sync) need not stop an install
  # the other lists can serve; the install says if it cannot.
  local apt=(apt-get -o DPkg::Lock::Timeout=600 -qq) try
  for try in 1 2 3; do
    DEBIAN_FRONTEND=noninteractive "${apt[@]}" update && break
    if [ "$try" -eq 3 ]; then
      echo "velt: apt-get update failed in part; installing from the lists at hand"
      break
    fi
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
