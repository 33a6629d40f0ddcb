#include "link_settings.h"

#include <cstdint>
#include <string>

namespace tarnovid {

MatchRule matchRule(const MatchSettings& settings) {
    MatchRule rule;
    rule.method = static_cast<std::int16_t>(settings.matchmethod);
    rule.vendorId = settings.matchvid;
    rule.productId = settings.matchpid;
    rule.version = settings.matchversion;
    rule.manufacturer = std::string(settings.matchmanufacturer);
    rule.product = std::string(settings.matchproduct);
    return rule;
}

} // namespace tarnovid
