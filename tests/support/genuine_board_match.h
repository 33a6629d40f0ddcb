#pragma once
// The match settings the window gives its link, for tests that drive the link alone.

#include "hidcomm.h"
#include "link_settings.h"

namespace tarnovid::test {

inline void matchGenuineBoard(HIDComm& link) { applyMatchSettings(link, kGenuineBoardLink); }

} // namespace tarnovid::test
