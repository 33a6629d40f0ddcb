#!/bin/busybox sh
# /init of the test kernel: brings up the USB gadget loopback, runs each guest program and powers
# off.
/bin/busybox --install -s /bin
# The firmware leaves the cursor mid-line; the host reads whole lines, and waits for this one.
echo
echo "guest init started"
export PATH=/bin:/usr/bin LANG=C.UTF-8 HOME=/tmp XDG_RUNTIME_DIR=/tmp/runtime
export QT_QPA_PLATFORM=offscreen
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp/runtime && chmod 700 /tmp/runtime
# hidraw lives inside hid.ko; dummy_hcd provides both the device controller and the host port
# that the gadget shows up on.
for module in hid usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_hid \
              usbhid hid-generic; do
    insmod "/modules/$module.ko" || echo "TARNOVID-GUEST-RESULT init: FAIL (insmod $module)"
done
mount -t configfs configfs /sys/kernel/config
while read -r guest; do
    "/usr/bin/$guest" /usr/bin/tarnovid-board
    echo "$guest exited with $?"
done < /guests
poweroff -f
