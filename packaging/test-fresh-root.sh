#!/usr/bin/env bash
# The two Debian packages on a fresh Debian 12, as an integrator meets them:
# a bookworm root made with debootstrap, with a vendor key library and a
# vendor tool library planted at the paths the stand-ins take. apt installs
# both packages there (their dependencies from the archive) and the vendor's
# files are kept; a user of the group varo runs the "first seal" commands of
# the installed integrator's guide, as they are written there, to a verified
# signature; an enabled instance of the unit is disabled on removal; removal
# and purge leave the vendor's files where they were.
#
# The root is made once and kept as a tarball in the build directory (and
# the packages apt fetches in a directory beside it), so that a later run
# only unpacks it. Everything runs in a private mount namespace; the guide's
# commands, whose service binds port 9990, in a private network as well.
#
# Usage: test-fresh-root.sh BUILD_DIR
#   BUILD_DIR  the packaging build with both .deb files made by cpack
# Exit status 0 when every check passed; a check that cannot run fails.
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  INSIDE=1
  BUILD=$2
else
  INSIDE=0
  BUILD=$(cd "${1:?usage: test-fresh-root.sh BUILD_DIR}" && pwd)
fi
WORK=$BUILD/fresh-root-test
RESULTS=$WORK/results
ROOT_TARBALL=$BUILD/debian12-root.tar
APT_ARCHIVES=$BUILD/debian12-apt-archives
MIRROR=http://deb.debian.org/debian

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=checks.sh
. "$HERE/checks.sh"

# make_root: debootstrap a minimal bookworm, with its package lists, into
# the tarball.
make_root() {
  local made=$WORK/made
  rm -rf "$made"
  echo "making a Debian 12 root with debootstrap (once; kept as $ROOT_TARBALL)"
  debootstrap --variant=minbase bookworm "$made" "$MIRROR" >"$WORK/debootstrap.out" 2>&1 ||
    return 1
  cp /etc/resolv.conf "$made/etc/resolv.conf"
  chroot "$made" apt-get update -qq >>"$WORK/debootstrap.out" 2>&1 || return 1
  chroot "$made" apt-get clean
  tar --one-file-system -C "$made" -cf "$ROOT_TARBALL.new" . && mv "$ROOT_TARBALL.new" "$ROOT_TARBALL"
  rm -rf "$made"
}

# in_root COMMAND...: the command in the fresh root as root, with a plain
# environment.
in_root() {
  chroot "$R" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

# block_commands MARKER FILE: the lines of the fenced block marked MARKER.
block_commands() {
  awk -v start='```sh '"$1" '$0 == start { inside = 1; next } inside && /^```/ { exit } inside' "$2"
}

# readme_commands FILE: the block in README.Debian, the indented lines of
# its section.
readme_commands() {
  awk '/^A first seal on a key$/ { inside = 1; next } inside && /^The last command/ { exit }
       inside && /^  / { print substr($0, 3) }' "$1"
}

# as_alice COMMANDS: the shell commands as alice in her home in the fresh
# root, in a private network (the service binds port 9990) and a private
# process namespace (whatever they leave running ends with them), stopped
# after two minutes.
as_alice() {
  unshare -n -p -f sh -c 'ip link set lo up && exec chroot "$1" runuser -u alice -- \
      env -i HOME=/home/alice PATH=/usr/bin:/bin LANG=C.UTF-8 \
      timeout 120 bash -e -o pipefail -c "cd && $2"' sh "$R" "$1"
}

sum_of() { sha256sum <"$1" | cut -d' ' -f1; }

run_inside() {
  R=$WORK/root
  local tree vendor_key vendor_tool key_sum tool_sum rc
  tree=$(cat "$WORK/install-root")
  vendor_key=$tree/VaroSupport/VaroCardSupport/LMKJ/GM3000_QX/libk5.1.0.so
  vendor_tool=$tree/VaroSupport/VaroCommon/ToolBench.so

  if [ ! -f "$ROOT_TARBALL" ]; then
    check "a fresh Debian 12 root made with debootstrap" make_root || true
    [ -f "$ROOT_TARBALL" ] || return 0
  fi
  rm -rf "$R"
  mkdir -p "$R" "$APT_ARCHIVES/partial"
  tar -C "$R" -xf "$ROOT_TARBALL"
  mount -t proc proc "$R/proc"
  mount --rbind /dev "$R/dev"
  mount --bind "$APT_ARCHIVES" "$R/var/cache/apt/archives"
  cp /etc/resolv.conf "$R/etc/resolv.conf"
  mkdir -p "$R/root/debs"
  cp "$OES_DEB" "$STANDINS_DEB" "$R/root/debs/"

  # The vendor's files, there before the packages.
  mkdir -p "$R$(dirname "$vendor_key")" "$R$(dirname "$vendor_tool")"
  echo "the vendor's key library" >"$R$vendor_key"
  echo "the vendor's tool library" >"$R$vendor_tool"
  key_sum=$(sum_of "$R$vendor_key")
  tool_sum=$(sum_of "$R$vendor_tool")
  vendor_files_kept() { # SUFFIX: the vendor's files, unchanged, at their paths + SUFFIX
    [ "$(sum_of "$R$vendor_key$1")" = "$key_sum" ] && [ "$(sum_of "$R$vendor_tool$1")" = "$tool_sum" ]
  }

  install_both() {
    in_root apt-get update -qq && in_root apt-get install -y -qq --no-install-recommends \
      "/root/debs/$(basename "$OES_DEB")" "/root/debs/$(basename "$STANDINS_DEB")"
  } >"$WORK/install.out" 2>&1
  check "apt-get installs varo-oes and varo-oes-standins on the fresh root" install_both
  check "the vendor's files are kept beside the stand-ins (.vendor)" vendor_files_kept .vendor
  check "the stand-ins are at the vendor's paths" \
    sh -c '! cmp -s "$1" "$1.vendor" && ! cmp -s "$2" "$2.vendor"' sh "$R$vendor_key" "$R$vendor_tool"
  check "dpkg-divert lists the two diversions of varo-oes-standins" \
    test "$(in_root dpkg-divert --list "$tree/*" | grep -c 'by varo-oes-standins$')" = 2
  reinstall() {
    in_root dpkg -i "/root/debs/$(basename "$STANDINS_DEB")" >>"$WORK/install.out" 2>&1 &&
      vendor_files_kept .vendor
  }
  check "reinstalling varo-oes-standins keeps the vendor's files aside" reinstall

  # The guide's first seal, as the reader's user.
  in_root useradd --create-home --shell /bin/bash alice
  in_root adduser --quiet alice varo
  local guide=$R/usr/share/doc/varo-oes/integration.md
  block_commands first-seal "$guide" >"$WORK/first-seal.sh"
  check "the installed guide has the first-seal commands" \
    grep -q "oes-reader verify" "$WORK/first-seal.sh"
  check "README.Debian holds the same commands" \
    diff -u "$WORK/first-seal.sh" <(readme_commands "$R/usr/share/doc/varo-oes-standins/README.Debian")
  rc=0
  as_alice "$(cat "$WORK/first-seal.sh")" >"$WORK/first-seal.out" 2>&1 || rc=$?
  check "the guide's commands, run as alice, sign and verify (result 0)" \
    sh -c '[ "$1" = 0 ] && grep -q "^verified: yes" "$2"' sh "$rc" "$WORK/first-seal.out"
  if [ "$rc" != 0 ]; then sed 's/^/  first-seal: /' "$WORK/first-seal.out" | tail -n 15; fi

  # The demo as shipped, on the installed tree (its OFD steps need zip and unzip).
  rc=0
  in_root apt-get install -y -qq --no-install-recommends zip unzip >>"$WORK/install.out" 2>&1 &&
    as_alice "VARO_DEMO_DIR=\$HOME/demo /usr/share/doc/varo-oes-standins/examples/demo/demo.sh $tree" \
      >"$WORK/demo.out" 2>&1 || rc=$?
  check "the shipped demo, run as alice, gives every expected result" \
    sh -c '[ "$1" = 0 ] && grep -q "every step gave the expected result" "$2"' sh "$rc" "$WORK/demo.out"

  # The guide's systemd commands in the root booted with systemd-nspawn: alice
  # signs through the sandboxed unit, then varo-oes-standins is removed while
  # the instance runs.
  in_root apt-get install -y -qq --no-install-recommends systemd >>"$WORK/install.out" 2>&1 ||
    fail "systemd installed in the fresh root"
  block_commands first-seal-systemd "$guide" >"$R/root/first-seal-systemd.sh"
  cp "$HERE/in-systemd.sh" "$R/root/in-systemd.sh"
  printf '%s\n' "[Unit]" "Description=the package test in the booted root" \
    "After=multi-user.target" "SuccessAction=poweroff" "FailureAction=poweroff" \
    "[Service]" "Type=oneshot" "ExecStart=/bin/sh /root/in-systemd.sh" \
    >"$R/etc/systemd/system/varo-package-check.service"
  mkdir -p "$R/etc/systemd/system/default.target.wants"
  ln -s ../varo-package-check.service "$R/etc/systemd/system/default.target.wants/"
  # systemd-nspawn mounts the container's own /proc and /dev.
  umount -R "${R:?}/proc" "${R:?}/dev"
  timeout 300 systemd-nspawn -q --register=no --keep-unit --private-network --boot -D "$R" \
    >"$WORK/boot.out" 2>&1 || true
  mount -t proc proc "$R/proc"
  mount --rbind /dev "$R/dev"
  local booted=$R/root/in-systemd.out
  check "the guide's systemd commands start varo-signd@alice.service" \
    grep -qx "unit: active" "$booted"
  check "alice signs and verifies through the sandboxed unit" \
    sh -c 'grep -qx "verified: yes" "$1" && grep -qx "signed through the unit" "$1"' sh "$booted"
  check "apt-get removes varo-oes-standins (under systemd)" grep -qx "removed" "$booted"
  check "removal stops the running instance" grep -qx "unit: stopped on removal" "$booted"
  if ! grep -qx "unit: stopped on removal" "$booted" 2>/dev/null; then
    tail -n 15 "$booted" "$WORK/boot.out" 2>/dev/null | sed 's/^/  booted: /'
  fi
  check "removal gives the vendor's files back" vendor_files_kept ""
  no_diversion() {
    [ -z "$(in_root dpkg-divert --list "$tree/*")" ] && [ ! -e "$R$vendor_key.vendor" ] &&
      [ ! -e "$R$vendor_tool.vendor" ]
  }
  check "removal leaves no diversion and no .vendor file" no_diversion
  local wants=$R/etc/systemd/system/multi-user.target.wants/varo-signd@alice.service
  check "removal disables the enabled instance of the unit" test ! -e "$wants" -a ! -L "$wants"
  purge_both() {
    in_root apt-get purge -y -qq varo-oes-standins varo-oes >"$WORK/purge.out" 2>&1 &&
      ! in_root dpkg-query -W -f='${db:Status-Status}\n' varo-oes varo-oes-standins 2>/dev/null |
      grep -qv '^not-installed$'
  }
  check "apt-get purges both packages" purge_both
  check "purge leaves the vendor's files" vendor_files_kept ""
  check "purge leaves alice's key store (it holds private keys)" \
    test -f "$R/home/alice/softkeys/KEY01/key.json"
  echo done >"$WORK/inside-done"
}

if [ "$INSIDE" = 1 ]; then
  OES_DEB=$(cat "$WORK/oes-deb")
  STANDINS_DEB=$(cat "$WORK/standins-deb")
  run_inside
  exit 0
fi

# ---------------------------------------------------------------------------
# Outside: the packages, and a private mount namespace for the run.
rm -rf "$WORK"
mkdir -p "$WORK"
: >"$RESULTS"
shopt -s nullglob
debs=("$BUILD"/varo-oes_*.deb "$BUILD"/varo-oes-standins_*.deb)
if [ "${#debs[@]}" -ne 2 ]; then
  echo "test-fresh-root.sh: expected one varo-oes and one varo-oes-standins .deb in $BUILD" >&2
  exit 1
fi
echo "${debs[0]}" >"$WORK/oes-deb"
echo "${debs[1]}" >"$WORK/standins-deb"
sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD/CMakeCache.txt" >"$WORK/install-root"

missing=()
for tool in debootstrap chroot unshare ip tar systemd-nspawn; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if [ "$(id -u)" -ne 0 ] || ((${#missing[@]})) || ! unshare -m -n true 2>/dev/null; then
  fail "the run on a fresh Debian 12 root (needs root, namespaces and ${missing[*]:-its tools})"
else
  unshare -m --propagation private "$0" --inside "$BUILD" || fail "run in the namespace"
  check "the run on the fresh root finished" test -f "$WORK/inside-done"
fi
# The unpacked root is kept for a look when a check failed (its mounts ended
# with the namespace).
summary "fresh Debian 12 root" || exit 1
rm -rf "$WORK/root"
