#pragma once
// What a refused open means for the user. The HID layer only hands over free text; a refusal for
// want of permission needs a different remedy (the udev rule, a local session) from a board that
// vanished or is held elsewhere, so it is told apart here.

#include <string_view>

namespace tarnovid {

// True when the system's reason for refusing an open says the user may not use the device. The
// system words it in the program's locale; the English wording counts too.
bool isAccessDenied(std::string_view reason);

} // namespace tarnovid
