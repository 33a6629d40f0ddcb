#pragma once
// The time stamp of a watch line: ISO 8601 local time with milliseconds and the offset from UTC,
// so lines sort as text and stay unambiguous across a change to or from summer time.

#include <QDateTime>
#include <QString>

namespace tarnovid::ctl {

// "2026-03-01T14:05:09.123+01:00"
QString isoTimestamp(const QDateTime& at);

} // namespace tarnovid::ctl
