#!/bin/sh
# The power-cut boot (ob310.part=power-cut on the kernel command line):
# ob310_cli logs to an ext4 file system on the virtio disk, against the
# virtual OB310. Right after the run named by ob310.step= (erase or write)
# exits 0, the guest says so on the console and the host kills the machine
# at once: whatever the run left in the guest's memory is lost, as at a power
# cut. Returns only when something went wrong.

PIN_HELD=0123456789ABCDEF
SERIAL=12345678
TAG=vm-test
. /common.sh

# No modules.dep in the image: load until nothing is left, whatever the order.
pending="virtio virtio_ring virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci virtio_blk
         crc16 crc32c_generic libcrc32c mbcache jbd2 ext4"
for round in 1 2 3 4 5; do
    left=
    for module in $pending; do
        insmod /lib/modules/$module.ko* 2>/dev/null || left="$left $module"
    done
    pending=$left
done
[ -z "$pending" ] || { say "FAIL cannot load$pending"; exit 1; }

tries=0
until [ -b /dev/vda ] && mkdir -p /mnt && mount -t ext4 /dev/vda /mnt 2>/dev/null; do
    tries=$((tries + 1))
    [ $tries -le 100 ] || { say "FAIL cannot mount /dev/vda"; exit 1; }
    usleep 100000
done

start_gadget || { cat /tmp/gadget.log; exit 1; }

step=$(sed -n 's/.*ob310\.step=\([a-z]*\).*/\1/p' /proc/cmdline)
case $step in
erase) ob310_cli -c -p "$PIN_HELD" -l /mnt/station.log ;;
write) ob310_cli -f /data/example.ob310 -p "$PIN_HELD" -l /mnt/station.log ;;
*) say "FAIL unknown step '$step'"; exit 1 ;;
esac
status=$?
if [ $status -eq 0 ]; then
    say "POWER-CUT after the $step run exited 0"
    # The host kills the machine now; a verdict after this would be a fault.
    sleep 60
fi
say "FAIL the $step run exited $status"
exit 1
