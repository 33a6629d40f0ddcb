#include "link_settings.h"

#include "hidcomm.h"

namespace tarnovid {

namespace {
QString text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
} // namespace

void applyLinkSpec(HIDComm& link, const LinkSpec& spec) {
    link.matchvid = spec.matchvid;
    link.matchpid = spec.matchpid;
    link.matchversion = spec.matchversion;
    link.matchmethod = qint16(spec.matchmethod);
    link.matchmanufacturer = text(spec.matchmanufacturer);
    link.matchproduct = text(spec.matchproduct);
}

} // namespace tarnovid
