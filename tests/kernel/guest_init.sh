#!/bin/busybox sh
# /init of the test kernel: brings up the USB gadget loopback, runs the guest test and powers off.
/bin/busybox --install -s /bin
# The firmware leaves the cursor mid-line; the host reads whole lines.
echo
export PATH=/bin:/usr/bin LANG=C.UTF-8 HOME=/tmp
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /tmp
# hidraw lives inside hid.ko; dummy_hcd provides both the device controller and the host port
# that the gadget shows up on.
for module in hid usb-common usbcore udc-core dummy_hcd configfs libcomposite usb_f_hid \
              usbhid hid-generic; do
    insmod "/modules/$module.ko" || echo "TARNOVID-GUEST-RESULT: FAIL (insmod $module)"
done
mount -t configfs configfs /sys/kernel/config
/usr/bin/tarnovid-guest-test /usr/bin/tarnovid-board
echo "guest test exited with $?"
poweroff -f
