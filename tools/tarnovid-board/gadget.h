#pragma once
// The board's USB identity as a configfs HID gadget: building and removing its tree, and plugging
// it into a device controller (bind) or pulling it out (unbind).

#include <string>

namespace tarnovid::board {

class Gadget {
public:
    // Builds <configfs>/usb_gadget/<name>, first removing a tree of that name that an earlier run
    // left behind (the caller holds the name's InstanceLock, so no running emulator owns it).
    // Throws std::runtime_error naming the path that failed.
    Gadget(std::string configfs, std::string name);
    ~Gadget(); // unplugs and removes the tree; never throws
    Gadget(const Gadget&) = delete;
    Gadget& operator=(const Gadget&) = delete;

    void plug(const std::string& udc); // throws std::runtime_error
    void unplug();                     // throws std::runtime_error
    bool plugged() const { return plugged_; }

    // The gadget side's character device (/dev/hidgN); exists only while plugged.
    std::string devicePath() const;
    // The attribute that binds the gadget to a controller; an empty line unbinds it.
    std::string udcAttribute() const { return root_ + "/UDC"; }

private:
    std::string root_;
    bool plugged_ = false;
};

// The first USB device controller the kernel lists, or empty when there is none.
std::string firstUdc();

} // namespace tarnovid::board
