#include "timestamp.h"

#include <QLocale>
#include <cstdlib>

namespace tarnovid::ctl {

QString isoTimestamp(const QDateTime& at) {
    // The C locale: digits stay ASCII whatever the user's language.
    const QString local = QLocale::c().toString(at, QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz"));
    const int offset = at.offsetFromUtc(); // seconds east of UTC
    const int minutes = std::abs(offset) / 60;
    return local + QStringLiteral("%1%2:%3")
                       .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                       .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                       .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace tarnovid::ctl
