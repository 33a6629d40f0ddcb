#pragma once
// What the calling thread's last call ran into: the text behind tarnovid_last_error(). Kept per
// thread, in a fixed buffer, so that recording a failure can itself never fail.

#include <string_view>

namespace tarnovid::lib {

// At the start of every call that can fail.
void clearLastError() noexcept;
// Records `message` (cut short at a character boundary if very long) and returns `code`.
int fail(int code, std::string_view message) noexcept;
const char* lastError() noexcept;

} // namespace tarnovid::lib
