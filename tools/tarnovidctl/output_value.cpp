#include "output_value.h"

#include <QRegularExpression>

namespace tarnovid::ctl {

namespace {

// A number with its base prefix; digits only, so "+5", " 5" and "5x" are refused.
std::optional<unsigned> parseNumber(const QString& word) {
    int base = 10;
    QString digits = word;
    if (word.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        base = 16;
        digits = word.mid(2);
    } else if (word.startsWith(QLatin1String("0b"), Qt::CaseInsensitive)) {
        base = 2;
        digits = word.mid(2);
    }
    static const QRegularExpression decimal(QStringLiteral("^[0-9]+$"));
    static const QRegularExpression hex(QStringLiteral("^[0-9A-Fa-f]+$"));
    static const QRegularExpression binary(QStringLiteral("^[01]+$"));
    const QRegularExpression& allowed = base == 16 ? hex : base == 2 ? binary : decimal;
    if (!allowed.match(digits).hasMatch())
        return std::nullopt;
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, base);
    if (!ok) // more digits than any integer holds: certainly not a byte
        return 0x100;
    return value > 0xFF ? 0x100u : static_cast<unsigned>(value);
}

} // namespace

std::optional<std::uint8_t> parseOutputValue(const QStringList& words, QString* error) {
    auto fail = [&](const QString& why) -> std::optional<std::uint8_t> {
        if (error != nullptr)
            *error = why;
        return std::nullopt;
    };
    QStringList items;
    for (const QString& word : words)
        items += word.split(QRegularExpression(QStringLiteral("[\\s,]+")), Qt::SkipEmptyParts);
    if (items.isEmpty())
        return fail(QStringLiteral("set needs a value: a byte (129, 0x81, 0b10000001), output "
                                   "names (D7 D0) or none"));

    if (items.size() == 1) {
        const QString& item = items.front();
        if (item.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0)
            return std::uint8_t{0};
        if (item.front().isDigit()) {
            const auto value = parseNumber(item);
            if (!value)
                return fail(QStringLiteral("\"%1\" is not a number").arg(item));
            if (*value > 0xFF)
                return fail(QStringLiteral("%1 is not a byte (0 to 255)").arg(item));
            return static_cast<std::uint8_t>(*value);
        }
    }

    static const QRegularExpression outputName(QStringLiteral("^[Dd]([0-7])$"));
    std::uint8_t value = 0;
    for (const QString& item : items) {
        const auto name = outputName.match(item);
        if (!name.hasMatch()) {
            if (items.size() > 1 &&
                (item.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0 ||
                 item.front().isDigit()))
                return fail(QStringLiteral("give either a number, output names or none, not "
                                           "several"));
            return fail(QStringLiteral("\"%1\" is not an output (D0 to D7)").arg(item));
        }
        value |= static_cast<std::uint8_t>(1u << name.captured(1).toUInt());
    }
    return value;
}

} // namespace tarnovid::ctl
