#pragma once
// What `list` shows: each HID interface the link would look at, whether it is a board, and for
// a lookalike which of the match rule's fields it fails, as plain lines or JSON objects.

#include "device_match.h"
#include "hid_backend.h"

#include <QString>
#include <vector>

namespace tarnovid::ctl {

struct ListedDevice {
    HidDeviceInfo info;
    int mismatches = 0; // MatchBits the interface fails; 0 for a board
};

// Every interface of `devices`, in path order, the boards among them first.
std::vector<ListedDevice> listDevices(const MatchRule& rule, std::vector<HidDeviceInfo> devices);

// /dev/hidraw3  serial "A1"  release 0x0001  "Dravelko" "USB Tarnovid"[  differs: ...]
QString deviceLine(const MatchRule& rule, const ListedDevice& device);
QString deviceJson(const MatchRule& rule, const ListedDevice& device);
// "1 board", "0 boards; 2 other 1234:0001 devices do not match (--all lists them)".
QString countLine(const MatchRule& rule, int boards, int lookalikes, bool lookalikesListed);
// "2 other 1234:0001 devices do not match"
QString lookalikesText(const MatchRule& rule, int lookalikes);

// "release 0x0002 (wanted 0x0001), bus Bluetooth (wanted USB)"
QString mismatchText(const MatchRule& rule, const ListedDevice& device);

// A device's string between double quotes, with quotes, backslashes and anything unprintable
// escaped, so that a board's odd name can neither hide a difference nor break the line.
QString quoted(const QString& text);
// Only what would break the line or fool the terminal escaped, for text that stands on its own
// and must stay usable as typed, such as a path (backslashes and all, on Windows).
QString printable(const QString& text);

} // namespace tarnovid::ctl
