// ELF: the library is linked with -z nodelete, so dlclose never unmaps it; nothing to do here.

#include "stay_loaded.h"

namespace tarnovid::lib {

void stayLoaded() noexcept {}

} // namespace tarnovid::lib
