#pragma once
// Where the library's calls find boards: the system's HID devices, or the demo board; which
// devices count as boards; and the lock that keeps two threads from looking for or opening
// devices at the same moment (hidapi keeps one error slot for every open).

#include "device_match.h"
#include "hid_backend.h"

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

namespace tarnovid::lib {

// The system's devices as the calls see them now (nullptr: none at all).
std::shared_ptr<HidBackend> systemDevices();
// The demo board `path` names ("demo", "demo:noreply", ...; see demo_mode.h), one per mode in
// this program, made on first use. nullptr, with *error set to one line, for a mode spelt wrong.
std::shared_ptr<HidBackend> demoDevices(std::string_view path, std::string* error);
std::mutex& systemLock();
// The window's own rule: every field the board reports.
MatchRule genuineRule();

// Defined by exactly one of system_devices_hidapi.cpp (the shipped library: hidapi) and
// system_devices_none.cpp (test builds: none, unless a test hands some in through
// backend_hook.h, so a test can never reach real hardware by accident).
std::shared_ptr<HidBackend> makeSystemDevices();

} // namespace tarnovid::lib
