#include "open_refusal.h"

#include <cerrno>
#include <string>
#include <system_error>

namespace tarnovid {

bool isAccessDenied(std::string_view reason) {
    const auto says = [&](std::string_view words) {
        return !words.empty() && reason.find(words) != std::string_view::npos;
    };
    // hidapi puts the system's error text into its message: strerror on POSIX, and on Windows
    // the error code in hex before the text.
    for (const int code : {EACCES, EPERM}) {
        if (says(std::generic_category().message(code)))
            return true;
    }
    return says("Permission denied") || says("Operation not permitted") || says("(0x00000005)") ||
           says("Access is denied");
}

} // namespace tarnovid
