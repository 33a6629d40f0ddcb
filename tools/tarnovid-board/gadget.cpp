// Builds and tears down the configfs tree of the emulated board.

#include "gadget.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace tarnovid::board {

namespace {

// Vendor-defined page, one application collection, a 64-byte input and a 64-byte output report,
// no report ids: the layout the real board's firmware declares.
constexpr std::uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF, // Usage Page (vendor defined 0xFF00)
    0x09, 0x01,       // Usage (1)
    0xA1, 0x01,       // Collection (Application)
    0x09, 0x02,       //   Usage (2)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x40,       //   Report Count (64)
    0x81, 0x02,       //   Input (Data, Variable, Absolute)
    0x09, 0x03,       //   Usage (3)
    0x15, 0x00,       //   Logical Minimum (0)
    0x26, 0xFF, 0x00, //   Logical Maximum (255)
    0x75, 0x08,       //   Report Size (8)
    0x95, 0x40,       //   Report Count (64)
    0x91, 0x02,       //   Output (Data, Variable, Absolute)
    0xC0,             // End Collection
};

[[noreturn]] void fail(const std::string& what, const std::string& path, int error) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

// configfs attributes take one write() each; a stream could split or buffer it.
void writeAttribute(const std::string& path, const void* data, std::size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        fail("cannot open", path, errno);
    ssize_t written = ::write(fd, data, size);
    int error = errno;
    ::close(fd);
    if (written < 0)
        fail("cannot write", path, error);
    if (static_cast<std::size_t>(written) != size)
        fail("short write to", path, EIO);
}

void writeAttribute(const std::string& path, const std::string& text) {
    writeAttribute(path, text.data(), text.size());
}

void makeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0)
        fail("cannot create", path, errno);
}

std::vector<fs::path> entries(const fs::path& dir) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        found.push_back(entry.path());
    return found;
}

// configfs wants the tree taken down in the reverse order of its making: links out of the
// configurations first, then their string groups, the configurations, the functions and the
// gadget's own strings. Attribute files go with their directory. Errors are ignored: this also
// clears half-built trees.
void removeTree(const fs::path& root) {
    std::error_code ec;
    if (!fs::exists(root, ec))
        return;
    int fd = ::open((root / "UDC").c_str(), O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        [[maybe_unused]] auto ignored = ::write(fd, "\n", 1);
        ::close(fd);
    }
    for (const auto& config : entries(root / "configs")) {
        for (const auto& entry : entries(config))
            if (fs::is_symlink(entry, ec))
                ::unlink(entry.c_str());
        for (const auto& lang : entries(config / "strings"))
            ::rmdir(lang.c_str());
        ::rmdir(config.c_str());
    }
    for (const auto& function : entries(root / "functions"))
        ::rmdir(function.c_str());
    for (const auto& lang : entries(root / "strings"))
        ::rmdir(lang.c_str());
    ::rmdir(root.c_str());
}

} // namespace

Gadget::Gadget(std::string configfs, std::string name)
    : root_(configfs + "/usb_gadget/" + name) {
    removeTree(root_);
    if (!fs::is_directory(configfs + "/usb_gadget"))
        throw std::runtime_error(configfs +
                                 "/usb_gadget is missing: mount configfs and load libcomposite");
    try {
        makeDir(root_);
        // The board's identity, written out here rather than taken from the tool (see
        // board_logic.h).
        writeAttribute(root_ + "/idVendor", "0x1234");
        writeAttribute(root_ + "/idProduct", "0x0001");
        writeAttribute(root_ + "/bcdDevice", "0x0001");
        writeAttribute(root_ + "/bcdUSB", "0x0200");
        makeDir(root_ + "/strings/0x409");
        writeAttribute(root_ + "/strings/0x409/manufacturer", "Dravelko");
        writeAttribute(root_ + "/strings/0x409/product", "USB Tarnovid");

        const std::string function = root_ + "/functions/hid.usb0";
        makeDir(function);
        writeAttribute(function + "/protocol", "0");
        writeAttribute(function + "/subclass", "0");
        writeAttribute(function + "/report_length", "64");
        writeAttribute(function + "/report_desc", kReportDescriptor, sizeof kReportDescriptor);

        const std::string config = root_ + "/configs/c.1";
        makeDir(config);
        writeAttribute(config + "/MaxPower", "100");
        makeDir(config + "/strings/0x409");
        writeAttribute(config + "/strings/0x409/configuration", "Tarnovid");
        if (::symlink(function.c_str(), (config + "/hid.usb0").c_str()) != 0)
            fail("cannot link", config + "/hid.usb0", errno);
    } catch (...) {
        removeTree(root_);
        throw;
    }
}

Gadget::~Gadget() {
    try {
        if (plugged_)
            unplug();
    } catch (...) {
        // removeTree unbinds again on its own.
    }
    removeTree(root_);
}

void Gadget::plug(const std::string& udc) {
    writeAttribute(root_ + "/UDC", udc + "\n");
    plugged_ = true;
}

void Gadget::unplug() {
    plugged_ = false;
    writeAttribute(root_ + "/UDC", "\n");
}

std::string Gadget::devicePath() const {
    // The function's "dev" attribute holds major:minor; the node under /dev carries the name the
    // kernel gave that device, which /sys/class/hidg maps.
    std::ifstream devFile(root_ + "/functions/hid.usb0/dev");
    std::string wanted;
    std::getline(devFile, wanted);
    for (const auto& entry : entries("/sys/class/hidg")) {
        std::ifstream dev(entry / "dev");
        std::string number;
        std::getline(dev, number);
        if (!wanted.empty() && number == wanted)
            return "/dev/" + entry.filename().string();
    }
    return {};
}

std::string firstUdc() {
    std::vector<std::string> names;
    for (const auto& entry : entries("/sys/class/udc"))
        names.push_back(entry.filename().string());
    std::sort(names.begin(), names.end());
    return names.empty() ? std::string() : names.front();
}

} // namespace tarnovid::board
