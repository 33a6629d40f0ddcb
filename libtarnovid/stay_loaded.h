#pragma once
// A board's thread runs the library's code, and may go on after the board is closed (a write
// stuck in the system returns seconds later). Unloading the library then would leave it running
// in unmapped code, so once a board has been opened the library stays loaded for the rest of the
// process: on ELF systems it is linked with -z nodelete (libtarnovid/CMakeLists.txt); on Windows
// stayLoaded() pins the DLL.

namespace tarnovid::lib {

void stayLoaded() noexcept;

} // namespace tarnovid::lib
