#!/bin/busybox sh
# /init of the test kernel for the Windows programs: the board's USB gadget loopback as in the
# Linux stage, then the host's Wine root (read-only over virtio-9p) under a writable layer in
# memory, and the stage's own files beside it; the Linux side of the stage runs in that root.
/bin/busybox --install -s /bin
echo
echo "guest init started"
export PATH=/bin:/usr/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# The gadget's modules, then what the shared folders need; the kernel package has no modules.dep,
# so the order is each module's own dependencies first.
while read -r module; do
    insmod "/modules/$module.ko" || echo "TARNOVID-GUEST-RESULT init: FAIL (insmod $module)"
done < /modules/order
mount -t configfs configfs /sys/kernel/config

share() { # TAG DIR
    mkdir -p "$2"
    mount -t 9p -o trans=virtio,version=9p2000.L,ro,cache=loose,msize=262144 "$1" "$2" ||
        echo "TARNOVID-GUEST-RESULT init: FAIL (mount the host's $1)"
}
share wineroot /lower
mkdir -p /upper /root
mount -t tmpfs -o size=1200m tmpfs /upper
mkdir -p /upper/data /upper/work
mount -t overlay overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work /root ||
    echo "TARNOVID-GUEST-RESULT init: FAIL (overlay on the Wine root)"
share stage /root/opt/tarnovid/stage
mount -t proc proc /root/proc
mount -t sysfs sysfs /root/sys
mount -t configfs configfs /root/sys/kernel/config
mount -t devtmpfs devtmpfs /root/dev
mkdir -p /root/dev/shm /root/dev/pts
mount -t tmpfs tmpfs /root/dev/shm
mount -t devpts devpts /root/dev/pts
mount -t tmpfs tmpfs /root/run
mount -t tmpfs tmpfs /root/tmp
chroot /root /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
    /bin/bash /opt/tarnovid/stage/windows_guest.sh
echo "windows guest exited with $?"
poweroff -f
