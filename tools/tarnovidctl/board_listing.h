#pragma once
// What `list` shows: each HID interface the library looks at for a board, whether it is one, and
// for a lookalike which of the board's marks it lacks, as plain lines or JSON objects.

#include <QString>
#include <cstdint>
#include <vector>

namespace tarnovid::ctl {

struct ListedDevice {
    QString path;
    QString serial;
    QString manufacturer;
    QString product;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t release = 0;
    int bus = 0;          // TARNOVID_BUS_*
    unsigned differs = 0; // TARNOVID_DIFFERS_* bits the interface fails; 0 for a board
};

// Every interface the library lists (tarnovid_list with all): the boards first, each group in
// path order. The library's result code.
int listDevices(std::vector<ListedDevice>& devices);

// /dev/hidraw3  serial "A1"  release 0x0001  "Dravelko" "USB Tarnovid"[  differs: ...]
QString deviceLine(const ListedDevice& device);
QString deviceJson(const ListedDevice& device);
// "1 board", "0 boards; 2 other 1234:0001 devices do not match (--all lists them)".
QString countLine(int boards, int lookalikes, bool lookalikesListed);
// "2 other 1234:0001 devices do not match"
QString lookalikesText(int lookalikes);
// A device with a board's ids (1234:0001) that is no board: the one kind `list` counts.
bool isLookalike(const ListedDevice& device);

// "release 0x0002 (wanted 0x0001), bus Bluetooth (wanted USB)"
QString mismatchText(const ListedDevice& device);

// A device's string between double quotes, with quotes, backslashes and anything unprintable
// escaped, so that a board's odd name can neither hide a difference nor break the line.
QString quoted(const QString& text);
// Only what would break the line or fool the terminal escaped, for text that stands on its own
// and must stay usable as typed, such as a path (backslashes and all, on Windows).
QString printable(const QString& text);

} // namespace tarnovid::ctl
