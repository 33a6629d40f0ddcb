#include "last_error.h"

#include "tarnovid.h"

#include <algorithm>
#include <cstring>

namespace tarnovid::lib {

namespace {

// Room for a refusal with a long path, the system's reason and the permission hint.
constexpr std::size_t kRoom = 1024;
thread_local char message[kRoom] = "";

} // namespace

void clearLastError() noexcept { message[0] = '\0'; }

int fail(int code, std::string_view text) noexcept {
    std::size_t length = std::min(text.size(), kRoom - 1);
    // Never end inside a UTF-8 sequence: back up to the first byte of the character that did not
    // fit whole.
    if (length < text.size())
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    std::memcpy(message, text.data(), length);
    message[length] = '\0';
    return code;
}

const char* lastError() noexcept { return message; }

} // namespace tarnovid::lib

extern "C" const char* tarnovid_last_error(void) { return tarnovid::lib::lastError(); }
