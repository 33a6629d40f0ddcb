#include "link_settings.h"

#include "hidcomm.h"

namespace tarnovid {

namespace {
QString text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }
} // namespace

void applyLinkSpec(HIDComm& link, const LinkSpec& settings) {
    link.matchvid = settings.matchvid;
    link.matchpid = settings.matchpid;
    link.matchversion = settings.matchversion;
    link.matchmethod = qint16(settings.matchmethod);
    link.matchmanufacturer = text(settings.matchmanufacturer);
    link.matchproduct = text(settings.matchproduct);
}

} // namespace tarnovid
