#!/usr/bin/env bash
# Checks the two Debian packages of a packaging build: their fields, that
# together they hold exactly the tree `cmake --install` lays out (each part in
# its package), and then runs the provider from the unpacked packages: the
# varo-oes postinst and the modes it gives sealData, the provider's
# information and a seal on a software key signed, verified and a tampered
# document refused, with varo-signd serving the seals on the key.
#
# The tree is built for its installation root, so the unpacked packages are
# placed there in a throw-away mount namespace (a bind mount at the root and
# a private /tmp, and a private network when it can have one, so port 9990 and
# the /tmp files of other runs are not touched, and an overlay of /etc, so
# that the group and the users the checks make stay in the namespace).
# The work directory may lie anywhere, under /tmp too: the namespace's
# private /tmp keeps it in view. A check that cannot run counts as failed,
# and so does a run in the namespace that does not finish: without
# namespaces (not root, or unshare refused) only the contents are checked,
# and the run fails.
#
# Usage: test-packages.sh BUILD_DIR
#   BUILD_DIR  the configured packaging build with both .deb files made by cpack
# Exit status 0 when every check passed.
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  INSIDE=1
  WORK=$2
else
  INSIDE=0
  BUILD=$(cd "${1:?usage: test-packages.sh BUILD_DIR}" && pwd)
  WORK=$BUILD/package-test
fi
RESULTS=$WORK/results

# shellcheck source=checks.sh
. "$(dirname "${BASH_SOURCE[0]}")/checks.sh"

# ---------------------------------------------------------------------------
# Inside the namespace: the unpacked tree is at the installation root.

# private_tmp: a fresh tmpfs becomes /tmp, with the work directory bound into
# it, so that a work directory under /tmp stays in view (and its results
# count); WORK and RESULTS then name it there.
private_tmp() {
  local fresh=$WORK/private-tmp
  mkdir -p "$fresh"
  mount -t tmpfs -o mode=1777 varo-package-tmp "$fresh"
  mkdir -m 0755 "$fresh/.package-test"
  mount --bind "$WORK" "$fresh/.package-test"
  mount --move "$fresh" /tmp
  WORK=/tmp/.package-test
  RESULTS=$WORK/results
}

# private_etc DIR: /etc becomes an overlay whose changes go to DIR, so that
# the accounts the postinst and the checks make never reach the machine; the
# mounts below /etc (hosts, resolv.conf in a container) stay in place.
# False when the overlay cannot be made.
private_etc() {
  local dir=$1 m i=0 below=()
  mkdir -m 700 "$dir" "$dir/upper" "$dir/work" "$dir/keep" || return 1
  while read -r m; do below+=("$m"); done < <(awk '$5 ~ "^/etc/" { print $5 }' /proc/self/mountinfo)
  for m in "${below[@]}"; do
    if [ -d "$m" ]; then mkdir "$dir/keep/$i"; else touch "$dir/keep/$i"; fi
    mount --bind "$m" "$dir/keep/$i" || return 1
    i=$((i + 1))
  done
  mount -t overlay varo-package-etc \
    -o "lowerdir=/etc,upperdir=$dir/upper,workdir=$dir/work" /etc || return 1
  i=0
  for m in "${below[@]}"; do
    mount --bind "$dir/keep/$i" "$m" || return 1
    i=$((i + 1))
  done
}

# as USER COMMAND...: the command as USER with USER's groups, from /.
as() {
  local user=$1
  shift
  (cd / && setpriv --reuid="$user" --regid=nogroup --init-groups "$@")
}
# refused USER COMMAND...: true when the command fails as USER.
refused() { ! as "$@" 2>/dev/null; }

# second_member STORE: the second member adds a file of its own but can
# neither remove the first member's nor rename its own over it.
second_member() {
  local store=$1
  as varo-test-b sh -c 'echo b >"$1/b.test"' sh "$store" &&
    refused varo-test-b rm -f "$store/a.test" &&
    refused varo-test-b mv "$store/b.test" "$store/a.test" &&
    [ "$(cat "$store/a.test")" = a ]
}

# The varo-oes postinst as dpkg runs it (configure, on installation and
# again on an upgrade), then the store's modes at work: two members of the
# group varo and one other user, made in the namespace's /etc.
store_modes() {
  local store=$1 postinst=$WORK/control-oes/postinst u
  check "varo-oes's postinst configures and makes the group varo" \
    sh -c '"$1" configure >postinst.out 2>&1 && getent group varo >/dev/null' sh "$postinst"
  check "sealData belongs to root:varo with mode 3775" \
    test "$(stat -c '%U:%G %a' "$store")" = "root:varo 3775"
  chmod 0755 "$store"
  check "the postinst again (an upgrade): one group varo, sealData 3775 again" \
    sh -c '"$1" configure >>postinst.out 2>&1 && [ "$(getent group varo | wc -l)" = 1 ] &&
           [ "$(stat -c %a "$2")" = 3775 ]' sh "$postinst" "$store"
  for u in varo-test-a varo-test-b varo-test-c; do
    adduser --quiet --system --no-create-home "$u" >>postinst.out 2>&1 || true
  done
  adduser --quiet varo-test-a varo >>postinst.out 2>&1 || true
  adduser --quiet varo-test-b varo >>postinst.out 2>&1 || true
  as varo-test-a sh -c 'echo a >"$1/a.test"' sh "$store" || true
  check "a member's new file in sealData gets the group varo" \
    test "$(stat -c '%U:%G' "$store/a.test" 2>/dev/null)" = "varo-test-a:varo"
  check "another member adds files, but cannot remove or replace the first one's" \
    second_member "$store"
  check "a user outside the group cannot add files to sealData" \
    refused varo-test-c sh -c 'echo c >"$1/c.test"' sh "$store"
  rm -f "$store"/*.test
}

run_inside() {
  local root bin seal_id rc
  private_tmp
  root=$(cat "$WORK/install-root")
  bin=$root/bin
  # A private network needs its loopback interface up.
  if [ "$(cat "$WORK/netns")" = 1 ]; then ip link set lo up; fi
  # The unpacked tree goes over the root when the machine has that directory
  # (an installed copy stays hidden and untouched); otherwise an empty
  # directory over its parent gives it a place.
  if [ ! -d "$root" ]; then
    mount -t tmpfs -o mode=0755 varo-package-parent "$(dirname "$root")"
    mkdir "$root"
  fi
  mount --bind "$WORK/root$root" "$root"

  local run=$WORK/run
  rm -rf "$run"
  mkdir -p "$run"
  cd "$run"
  if ! command -v adduser >/dev/null || ! command -v setpriv >/dev/null; then
    fail "the run of varo-oes's postinst (needs adduser and setpriv)"
  elif private_etc /tmp/varo-package-etc; then
    store_modes "$root/sealData"
  else
    fail "the run of varo-oes's postinst (needs an overlay of /etc in the namespace)"
  fi

  # The package's own key store beside the key library.
  unset VARO_SOFTKEY_DIR
  reader() { "$bin/oes-reader" "$@"; }

  check "oes-reader info from the unpacked tree" reader info
  # The template as one instance of it (systemd-analyze checks instances).
  local unit=$run/units/varo-signd@alice.service
  mkdir -p "$run/units"
  cp "$WORK/root/lib/systemd/system/varo-signd@.service" "$unit"
  check "the systemd unit verifies (systemd-analyze verify)" \
    systemd-analyze verify "$unit"
  check "the unit's exposure is at most 1.4 (systemd-analyze security)" \
    sh -c 'systemd-analyze security --offline=true --threshold=14 "$1" >security.out 2>&1' sh "$unit"

  provision_key() {
    "$bin/softkey" make-ca --key-out ca.key.der --cert-out ca.cert.der \
      --subject "CN=Package Test CA" &&
      "$bin/softkey" create PKGKEY01 --serial 5041434B41474531 &&
      "$bin/softkey" add-container PKGKEY01 Seal --subject "CN=Package Signer,O=Varo" \
        --ca-key ca.key.der --ca-cert ca.cert.der --cert-out signer.cert.der
  } >softkey.out 2>&1
  store_seal() {
    "$bin/sealmaker" --new-maker maker --maker-name "Package Seal Maker" &&
      "$bin/sealmaker" --name "Package Seal" --id pkgSeal --type 1 --vid PKG \
        --signer-cert signer.cert.der --maker-cert maker/maker.cert.der \
        --maker-key maker/maker.key.der --store PKGKEY01
  } >sealmaker.out 2>&1
  check "software key with an SM2 certificate from a CA" provision_key
  check "key store in the tree's softkeys/" \
    test -f "$root/VaroSupport/VaroCardSupport/LMKJ/GM3000_QX/softkeys/PKGKEY01/key.json"
  check "seal stored on the key through the driver (sealmaker --store)" store_seal

  printf '%s\n' 12345678 >pin.txt
  "$bin/varo-signd" --pin-file pin.txt --log signd.log >signd.out 2>&1 &
  local signd=$!
  trap 'kill -TERM '"$signd"' 2>/dev/null || true' EXIT
  for _ in $(seq 50); do
    grep -q listening signd.out 2>/dev/null && break
    kill -0 "$signd" 2>/dev/null || break
    sleep 0.1
  done
  check "varo-signd listening (seals from the key)" grep -q listening signd.out

  reader seals >seals.out 2>&1 || true
  seal_id=$(sed -n 's/^seal 1: \([^ ]*\).*/\1/p' seals.out)
  check "the seal list names the seal on the key" grep -q '^seal 1: pkgSeal@' seals.out

  printf 'Packaged contract, %s.\n' "$(date -u +%Y-%m-%d)" >contract.txt
  check "oes-reader sign" reader sign "$seal_id" contract.txt contract.sig
  check "oes-reader seal (the seal's DER)" reader seal "$seal_id" seal.der
  check "oes-reader verify (result 0)" reader verify seal.der contract.txt contract.sig
  { cat contract.txt && echo 'One more clause.'; } >tampered.txt
  rc=0
  reader --json verify seal.der tampered.txt contract.sig >tampered.json || rc=$?
  check "a tampered document is refused (result 4386)" \
    sh -c '[ "$1" -eq 1 ] && grep -Eq "\"result\": *4386" tampered.json' sh "$rc"

  kill -TERM "$signd"
  rc=0
  wait "$signd" || rc=$?
  trap - EXIT
  check "varo-signd stops cleanly" test "$rc" -eq 0
  # What the tools said, when a step failed.
  if grep -q '^fail' "$RESULTS"; then
    for f in postinst.out softkey.out sealmaker.out signd.out seals.out tampered.json security.out; do
      if [ -s "$f" ]; then sed "s|^|  $f: |" "$f" | tail -n 5; fi
    done
  fi
  echo done >"$WORK/inside-done"
}

if [ "$INSIDE" = 1 ]; then
  run_inside
  exit 0
fi

# ---------------------------------------------------------------------------
# Outside: fields and contents of the packages.
rm -rf "$WORK"
mkdir -p "$WORK"
: >"$RESULTS"

ROOT=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$BUILD/CMakeCache.txt")
TREE=${ROOT#/}
echo "$ROOT" >"$WORK/install-root"
shopt -s nullglob
OES=("$BUILD"/varo-oes_*.deb)
STANDINS=("$BUILD"/varo-oes-standins_*.deb)
if [ "${#OES[@]}" -ne 1 ] || [ "${#STANDINS[@]}" -ne 1 ]; then
  echo "test-packages.sh: expected one varo-oes and one varo-oes-standins .deb in $BUILD" >&2
  exit 1
fi
OES=${OES[0]}
STANDINS=${STANDINS[0]}

field() { dpkg-deb -f "$1" "$2"; }
version=$(field "$OES" Version)
check "package names" test "$(field "$OES" Package) $(field "$STANDINS" Package)" = \
  "varo-oes varo-oes-standins"
check "varo-oes depends on Qt 5 Core and OpenSSL 3" \
  sh -c 'dpkg-deb -f "$1" Depends | grep -q "libqt5core5a" &&
         dpkg-deb -f "$1" Depends | grep -q "libssl3"' sh "$OES"
check "varo-oes-standins depends on varo-oes (= $version)" \
  sh -c 'dpkg-deb -f "$1" Depends | grep -Fq "varo-oes (= $2)"' sh "$STANDINS" "$version"
scripts() { # the maintainer scripts of a package, by name
  dpkg-deb --ctrl-tarfile "$1" | tar -t | sed -nE 's#^(\./)?((pre|post)(inst|rm))$#\2#p' |
    sort | tr '\n' ' '
}
check "varo-oes's one maintainer script is its postinst" test "$(scripts "$OES")" = "postinst "
check "varo-oes-standins's maintainer scripts: postinst, postrm, preinst, prerm" \
  test "$(scripts "$STANDINS")" = "postinst postrm preinst prerm "
check "varo-oes depends on adduser (the postinst's addgroup)" \
  sh -c 'dpkg-deb -f "$1" Depends | grep -Eq "(^|, )adduser(,|$| )"' sh "$OES"
dpkg-deb -e "$OES" "$WORK/control-oes"

# What each package holds under the root.
listing() { dpkg-deb --fsys-tarfile "$1" | tar -t | sed -n "s|^\./$TREE/||p" | grep . | sort; }
listing "$OES" >"$WORK/oes.list"
listing "$STANDINS" >"$WORK/standins.list"
expect_in() { # LIST PATH...
  local list=$1 p
  shift
  for p in "$@"; do grep -Fxq "$p" "$WORK/$list.list" || return 1; done
}
check "varo-oes holds the system's libraries and sealData/" expect_in oes \
  liboesprovider.so sealstruct/libSesSealStru.so VaroSupport/libTokenSign_LM.so \
  VaroSupport/uklibrary/libVaroDeviceBase_LM_GM3000.so \
  VaroSupport/plugins/libVaroGetSealListOfficeLine.so \
  VaroSupport/plugins/libVaroGetSealListOnLine.so VaroSupport/plugins/libVaroGetUKInfo.so \
  sealData/
check "varo-oes-standins holds the stand-ins" expect_in standins \
  VaroSupport/VaroCardSupport/LMKJ/GM3000_QX/libk5.1.0.so \
  VaroSupport/VaroCardSupport/LMKJ/GM3000_QX/softkeys/ VaroSupport/VaroCommon/ToolBench.so \
  bin/varo-signd bin/varo-sealserver bin/oes-reader bin/softkey bin/sealmaker
check "varo-oes holds no stand-in" \
  sh -c '! grep -Eq "ToolBench|libk5|softkeys|^bin/." "$1"' sh "$WORK/oes.list"
standins_files=$(dpkg-deb -c "$STANDINS")
check "the systemd unit is in varo-oes-standins" \
  sh -c 'echo "$1" | grep -q " \./lib/systemd/system/varo-signd@\.service$"' sh "$standins_files"
{ dpkg-deb -c "$OES" && dpkg-deb -c "$STANDINS"; } | sed -n 's|.* \./usr/share/doc/||p' >"$WORK/docs.list"
check "the guide, the stand-ins' READMEs and the demo are in /usr/share/doc" \
  sh -c 'for doc in varo-oes/integration.md varo-oes-standins/examples/demo/demo.sh; do
           grep -Fqx "$doc" "$1" || exit 1
         done
         for s in softkey toolbench service sealserver reader ofd sealmaker; do
           grep -Fqx "varo-oes-standins/$s/README.md" "$1" || exit 1
         done' sh "$WORK/docs.list"

# Together the packages hold the whole installed tree, and nothing else.
DESTDIR="$WORK/plain" cmake --install "$BUILD" >/dev/null
sed -e "s|^$ROOT/||" -e 's|^\./||' "$BUILD/install_manifest.txt" | sort >"$WORK/manifest.list"
sort -u "$WORK/oes.list" "$WORK/standins.list" >"$WORK/packaged.list"
check "the packages' files are the install manifest" \
  diff -u "$WORK/manifest.list" <(grep -v '/$' "$WORK/packaged.list")
# The manifest lists files only; the (empty) directories come from the tree.
(cd "$WORK/plain$ROOT" && find . -mindepth 1 -type d -printf '%P/\n') | sort >"$WORK/dirs.list"
check "the packages' directories are the installed tree's" \
  diff -u "$WORK/dirs.list" <(grep '/$' "$WORK/packaged.list")

# Unpacked together, as dpkg would install them.
mkdir -p "$WORK/root"
dpkg -x "$OES" "$WORK/root"
dpkg -x "$STANDINS" "$WORK/root"

# A parent directory that the system itself needs cannot be covered.
parent=$(dirname "$ROOT")
case "$parent" in
  / | /usr | /lib | /lib64 | /bin | /sbin | /etc | /var | /tmp) place_ok=0 ;;
  *) place_ok=1 ;;
esac
[ -d "$ROOT" ] && place_ok=1
if [ "$(id -u)" -eq 0 ] && [ -d "$parent" ] && [ "$place_ok" = 1 ] && unshare -m true 2>/dev/null; then
  if unshare -m -n true 2>/dev/null && command -v ip >/dev/null; then
    echo 1 >"$WORK/netns"
    unshare -m -n --propagation private "$0" --inside "$WORK" || fail "run in the namespace"
  else
    echo 0 >"$WORK/netns"
    unshare -m --propagation private "$0" --inside "$WORK" || fail "run in the namespace"
  fi
  check "the run in the namespace finished" test -f "$WORK/inside-done"
else
  fail "the run from the unpacked tree (needs root, mount namespaces (unshare -m) and a place for $ROOT)"
fi

summary packages
