#!/usr/bin/env bash
# The local seal store on a bad day, tried through the installed tools: a
# full disk, a read-only store, a link and a planted list of another user in
# it. Every time, the seals of both keys (one indexed, one in the old
# three-file form) are listed, no empty file is left, and a good seal copy
# is never replaced by a worse one. Needs root and mount namespaces (the
# faults are a small tmpfs and a read-only bind mount over sealData in a
# namespace of its own); exit 77 without them.
set -euo pipefail
ROOT=$1
WORK=$2
BIN=$ROOT/bin
STORE=$ROOT/sealData
if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
  echo "skipped: needs root and mount namespaces"
  exit 77
fi
rm -rf "$WORK"
mkdir -p "$WORK/tmp/varolog"
export VARO_SOFTKEY_DIR=$WORK/keys TMPDIR=$WORK/tmp
tag=$$
NEWID=faultnew$tag OLDID=faultold$tag NEWSERIAL=FNEW$tag OLDSERIAL=FOLD$tag
cleanup() { rm -f "$STORE"/*"$tag".*; }
trap cleanup EXIT
failures=0
check() { # check WHAT COMMAND...
  if "${@:2}"; then echo "ok   $1"; else echo "FAIL $1"; failures=$((failures + 1)); fi
}
quiet() { "$@" >/dev/null; }

# Two keys: NEW with a seal in its index, OLD with one in the old form.
quiet "$BIN/sealmaker" --new-maker "$WORK/maker"
for key in NEW OLD; do
  serial=${key}SERIAL
  quiet "$BIN/softkey" create "$key" --serial "${!serial}"
  quiet "$BIN/softkey" add-container "$key" Sign --cert-out "$WORK/$key.cert"
done
seal() { # seal ID NAME KEY
  quiet "$BIN/sealmaker" --name "$2" --id "$1" --type 1 --vid TEST --signer-cert "$WORK/$3.cert" \
    --maker-cert "$WORK/maker/maker.cert.der" --maker-key "$WORK/maker/maker.key.der" -o "$WORK/$1.der"
}
seal "$NEWID" "New Seal" NEW
seal "$OLDID" "Old Seal" OLD
quiet "$BIN/softkey" detach OLD
quiet "$BIN/sealmaker" --seal "$WORK/$NEWID.der" --store NEW
quiet "$BIN/softkey" attach OLD
quiet "$BIN/sealmaker" --seal "$WORK/$OLDID.der" --store-old OLD

# Runs SCRIPT in a mount namespace of its own (sealData mounted over there).
in_namespace() { unshare -m bash -c "mount --make-rprivate / && $1" 2>&1; }
both_listed() { grep -q "$NEWID" <<<"$1" && grep -q "$OLDID" <<<"$1"; }
no_empty_file() { [ -z "$(find "$STORE" -maxdepth 1 -name "*$tag*" ! -name '*.lock' -empty)" ]; }

# A full store (a 64 KiB tmpfs filled up): listed all the same, no empty
# file, the reason logged; once there is room the local files are written
# whole, and filled up again a refresh keeps them.
out=$(in_namespace "
  mount -t tmpfs -o size=64k tmpfs '$STORE'
  fill() { cat /dev/zero >'$STORE/filler' 2>/dev/null || true; }
  fill; echo FIRST; '$BIN/oes-reader' key-seals
  echo EMPTY; find '$STORE' -empty
  rm '$STORE/filler'; '$BIN/oes-reader' key-seals >/dev/null
  echo WRITTEN; ls '$STORE'
  cp '$STORE/$NEWID.dat' '$WORK/good.dat'; rm '$STORE/$NEWID.key'  # the refresh rewrites it
  fill; '$BIN/oes-reader' key-seals >/dev/null
  cmp -s '$STORE/$NEWID.dat' '$WORK/good.dat' && echo KEPT")
check "full store: both keys' seals listed" both_listed "$(sed -n '/FIRST/,/EMPTY/p' <<<"$out")"
check "full store: no empty file left" test -z "$(sed -n '/EMPTY/,/WRITTEN/p' <<<"$out" | grep -v -e EMPTY -e WRITTEN)"
check "full store: the failed write is logged with its reason" \
  grep -q "VaroDeviceBase_LM_GM3000: local store not written: .*No space left on device" \
  "$WORK/tmp/varolog/clientlog.txt"
check "full store, room again: the old key's list and copies written" \
  grep -q "$OLDSERIAL.list" <<<"$out"
check "full store: a refresh keeps the good copy" grep -q KEPT <<<"$out"

# A read-only store while the old key is not converted: listed all the same.
out=$(in_namespace "mount --bind '$STORE' '$STORE' && mount -o remount,ro,bind '$STORE' &&
  '$BIN/oes-reader' key-seals")
check "read-only store: both keys' seals listed" both_listed "$out"
check "read-only store: nothing written" test ! -e "$STORE/$OLDSERIAL.list"

# The real store: the copies and the old key's local list are written.
out=$("$BIN/oes-reader" key-seals)
check "store: both keys' seals listed" both_listed "$out"
check "store: the old key's list and the copies written" \
  test -s "$STORE/$OLDSERIAL.list" -a -s "$STORE/$OLDID.dat" -a -s "$STORE/$NEWID.dat"
check "store: no empty file" no_empty_file

# A link planted under a copy's name, and a list of another user.
echo outside >"$WORK/target"
rm -f "$STORE/$NEWID.dat"
ln -s "$WORK/target" "$STORE/$NEWID.dat"
printf '[{"ID":"planted","NAME":"P","VER":"1","TYPE":"1","FILENAME":"P"}]' >"$STORE/$OLDSERIAL.list"
chown nobody "$STORE/$OLDSERIAL.list"
out=$("$BIN/oes-reader" key-seals)
check "planted list ignored: the old key's own seal listed" both_listed "$out"
check "planted list ignored: nothing of it listed" test -z "$(grep planted <<<"$out" || true)"
check "the link's target is untouched" grep -qx outside "$WORK/target"
check "the copy is a file of ours again" test -f "$STORE/$NEWID.dat" -a ! -L "$STORE/$NEWID.dat"
check "the old key's list is ours again" test "$(stat -c %U "$STORE/$OLDSERIAL.list")" = root

echo "$failures failed"
[ "$failures" -eq 0 ]
