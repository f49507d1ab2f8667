# Sourced by the CI steps that run 32-bit x86 programs (.ci/windows.sh,
# .ci/i386.sh). velt_i386_enable makes i386 programs runnable here and says how:
#
#   native    the kernel runs them itself (IA32 emulation on)
#   emulated  qemu's i386 user emulator, registered through binfmt_misc for
#             this run only, so that wine's own child processes get it too
#
# Which case holds is found by running a tiny static i386 program and looking
# at what the kernel started for it, not by the names of binfmt entries.
# Debian 12's qemu-user (7.2) is far too slow for wine, so the emulator comes
# from bookworm-backports: fetched with apt from a source list given on the
# command line (the machine's apt sources stay as they are), unpacked into
# build/i386-emulator/ and reused from there on the next run.
#
# After velt_i386_enable: VELT_I386_MODE is "native", "emulated" or "" (cannot
# run them), VELT_I386_HOW is the text for the step's one line, and
# VELT_I386_WHY says why not when the mode is empty. VELT_I386_REACHABLE is 0
# when the emulator could not be fetched (the one case in which a step may be
# skipped without failing CI). The registration is removed on exit, also on
# failure, by the trap velt_i386_enable sets.

VELT_I386_DIR=${VELT_I386_DIR:-$PWD/build/i386-emulator}
VELT_I386_MODE=
VELT_I386_HOW=
VELT_I386_WHY=
VELT_I386_REACHABLE=1
velt_i386_entry=

# A static i386 program with no library at all: it waits for its standard
# input to close, then exits with status 42. Built with the host compiler
# alone (-m32 needs no multilib without a C library).
velt_i386_probe() {
  local probe=$VELT_I386_DIR/probe
  [ -x "$probe" ] && { echo "$probe"; return 0; }
  mkdir -p "$VELT_I386_DIR"
  printf '%s\n' '.text' '.globl _start' '_start:' \
    'movl $3, %eax' 'xorl %ebx, %ebx' 'leal -4(%esp), %ecx' 'movl $1, %edx' 'int $0x80' \
    'movl $1, %eax' 'movl $42, %ebx' 'int $0x80' >"$VELT_I386_DIR/probe.S"
  gcc -m32 -nostdlib -static -o "$probe.tmp" "$VELT_I386_DIR/probe.S" && mv "$probe.tmp" "$probe" && echo "$probe"
}

# Runs the probe and prints what the kernel executed for it: the probe's own
# path when the kernel ran it natively, an interpreter's path when binfmt_misc
# handed it to one. Prints nothing and fails when it did not run.
velt_i386_run_probe() {
  local probe=$1 pid exe shell rc=0 input
  shell=$(readlink "/proc/$$/exe")
  coproc VELT_PROBE { exec "$probe" 2>/dev/null; }
  pid=$VELT_PROBE_PID
  input=${VELT_PROBE[1]}
  # Until the exec is done the process is still a copy of this shell.
  for _ in $(seq 100); do
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || break
    [ "$exe" != "$shell" ] && break
    sleep 0.05
  done
  # The probe blocks on its standard input until the pipe to it closes.
  exec {input}>&-
  wait "$pid" || rc=$?
  [ "$rc" -eq 42 ] || return 1
  echo "$exe"
}

velt_i386_fetch_qemu() {
  local qemu=$VELT_I386_DIR/qemu-i386 work uri apt_opts
  [ -x "$qemu" ] && "$qemu" --version >/dev/null 2>&1 && return 0
  work=$(mktemp -d /tmp/velt-qemu.XXXXXX)
  uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  [ -n "$uri" ] || uri=$(awk '$1 == "deb" && $2 ~ /^http/ {print $2; exit}' /etc/apt/sources.list 2>/dev/null || true)
  [ -n "$uri" ] || uri=http://deb.debian.org/debian
  printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$uri" >"$work/backports.sources"
  mkdir -p "$work/lists/partial" "$work/cache"
  # Lists and package caches of their own, so that the machine's are not touched.
  apt_opts=(-o Dir::Etc::sourcelist="$work/backports.sources" -o Dir::Etc::sourceparts=-
            -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/cache"
            -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Architecture=amd64)
  if ! apt-get "${apt_opts[@]}" -qq update >"$work/log" 2>&1 ||
     ! (cd "$work" && apt-get "${apt_opts[@]}" -qq download qemu-user/bookworm-backports >>"$work/log" 2>&1); then
    sed 's/^/   /' "$work/log" | tail -5
    rm -rf "$work"
    VELT_I386_REACHABLE=0
    return 1
  fi
  dpkg-deb -x "$work"/qemu-user_*.deb "$work/root"
  mkdir -p "$VELT_I386_DIR"
  cp "$work/root/usr/bin/qemu-i386" "$qemu.tmp" && mv "$qemu.tmp" "$qemu"
  rm -rf "$work"
  "$qemu" --version >/dev/null
}

velt_i386_release() {
  if [ -n "$velt_i386_entry" ] && [ -e "/proc/sys/fs/binfmt_misc/$velt_i386_entry" ]; then
    echo -1 >"/proc/sys/fs/binfmt_misc/$velt_i386_entry" || true
  fi
  velt_i386_entry=
}

velt_i386_enable() {
  local probe exe qemu version
  if ! probe=$(velt_i386_probe); then
    VELT_I386_WHY="no i386 probe could be built (gcc -m32)"
    return 0
  fi
  if exe=$(velt_i386_run_probe "$probe") && [ "$exe" = "$(readlink -f "$probe")" ]; then
    VELT_I386_MODE=native
    VELT_I386_HOW="native (the kernel runs i386 programs)"
    return 0
  fi
  if ! velt_i386_fetch_qemu; then
    VELT_I386_WHY="this kernel runs no i386 programs and qemu-user could not be fetched from bookworm-backports"
    return 0
  fi
  qemu=$VELT_I386_DIR/qemu-i386
  version=$("$qemu" --version | awk 'NR == 1 {print $3}')
  if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
  fi
  # Flags: O opens the binary for the emulator, P keeps argv[0], F opens the
  # emulator now, so that it serves other mount namespaces and wine's
  # children. An entry of our own per run: the newest entry wins, and a
  # concurrent run removing its own leaves ours in place.
  ln -sf qemu-i386 "$VELT_I386_DIR/qemu-i386-binfmt-P"
  velt_i386_entry=velt-i386-$$
  trap velt_i386_release EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  if ! echo ":$velt_i386_entry:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$VELT_I386_DIR/qemu-i386-binfmt-P:OPF" \
      >/proc/sys/fs/binfmt_misc/register 2>/dev/null; then
    velt_i386_entry=
    VELT_I386_WHY="this kernel runs no i386 programs and qemu-i386 $version could not be registered with binfmt_misc"
    return 0
  fi
  if ! exe=$(velt_i386_run_probe "$probe") || [ "$exe" != "$(readlink -f "$qemu")" ]; then
    velt_i386_release
    VELT_I386_WHY="this kernel runs no i386 programs and the probe did not run under the registered qemu-i386 $version"
    return 0
  fi
  VELT_I386_MODE=emulated
  VELT_I386_HOW="emulated (qemu-i386 $version from bookworm-backports, through binfmt_misc)"
}

# The step's one line for a step that cannot run; returns the step's status:
# skipping fails unless neither native running nor fetching the emulator could
# work here.
velt_i386_skip() {
  local step=$1
  echo "== $step: skipped: $VELT_I386_WHY"
  [ "$VELT_I386_REACHABLE" -eq 0 ]
}
