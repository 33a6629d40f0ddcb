#include "input_format.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace tarnovid::ctl {

namespace {

constexpr std::uint8_t kInputBits = 0x07; // bit 0 T2, bit 1 T3, bit 2 T4

int bit(std::uint8_t inputs, int n) { return (inputs >> n) & 1; }

} // namespace

QString formatInputs(std::uint8_t inputs, Style style, const QString& timestamp) {
    if (style == Style::Json) {
        QJsonObject object{{QStringLiteral("T2"), bit(inputs, 0)},
                           {QStringLiteral("T3"), bit(inputs, 1)},
                           {QStringLiteral("T4"), bit(inputs, 2)},
                           {QStringLiteral("raw"), int(inputs)}};
        if (!timestamp.isEmpty())
            object.insert(QStringLiteral("time"), timestamp);
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    QString line = QStringLiteral("T2=%1 T3=%2 T4=%3")
                       .arg(bit(inputs, 0))
                       .arg(bit(inputs, 1))
                       .arg(bit(inputs, 2));
    if (style == Style::Verbose)
        line += QStringLiteral(" raw=0x%1").arg(int(inputs), 2, 16, QLatin1Char('0'));
    return timestamp.isEmpty() ? line : timestamp + QLatin1Char(' ') + line;
}

bool inputsDiffer(std::uint8_t a, std::uint8_t b) { return ((a ^ b) & kInputBits) != 0; }

} // namespace tarnovid::ctl
