#!/bin/sh
# Run by test-fresh-root.sh as a unit of the fresh root booted with
# systemd-nspawn: the guide's systemd commands (first-seal-systemd.sh, taken
# from the installed guide), alice's signing through the unit they start,
# then the removal of varo-oes-standins while the instance runs. Each step
# leaves a line in /root/in-systemd.out for the test to check.
exec >/root/in-systemd.out 2>&1
seal='firstSeal@LM_GM3000&KEY01@/VaroSupport/TokenSign_LM'

sh -e /root/first-seal-systemd.sh
systemctl is-active --quiet varo-signd@alice.service && echo "unit: active"
runuser -u alice -- env -i HOME=/home/alice PATH=/usr/bin:/bin \
  VARO_SOFTKEY_DIR=/home/alice/softkeys sh -ec '
    cd ~/first-seal
    timeout 30 sh -c "until /opt/varo/bin/oes-reader seals >/dev/null; do sleep 0.5; done"
    /opt/varo/bin/oes-reader sign "$1" contract.txt unit.sig
    /opt/varo/bin/oes-reader verify seal.der contract.txt unit.sig' sh "$seal" &&
  echo "signed through the unit"
journalctl --no-pager -u varo-signd@alice.service | tail -n 5

DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq varo-oes-standins && echo "removed"
systemctl is-active --quiet varo-signd@alice.service || echo "unit: stopped on removal"
