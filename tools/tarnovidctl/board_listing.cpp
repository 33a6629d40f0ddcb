#include "board_listing.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

namespace tarnovid::ctl {

namespace {

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QString hex4(long long value) { return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0')); }

QString busName(HidBus bus) {
    switch (bus) {
    case HidBus::Usb:
        return QStringLiteral("USB");
    case HidBus::Bluetooth:
        return QStringLiteral("Bluetooth");
    case HidBus::I2c:
        return QStringLiteral("I2C");
    case HidBus::Spi:
        return QStringLiteral("SPI");
    case HidBus::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

// One field of the rule: its name, and what the device has and the rule wants, as text and as
// JSON values.
struct Field {
    MatchBit bit;
    const char* name;
    QString found, wanted;
    QJsonValue foundJson, wantedJson;
};

std::vector<Field> fields(const MatchRule& rule, const HidDeviceInfo& device) {
    return {
        {kMatchVendorId, "vendor", hex4(device.vendorId), hex4(rule.vendorId), device.vendorId,
         rule.vendorId},
        {kMatchProductId, "product_id", hex4(device.productId), hex4(rule.productId),
         device.productId, rule.productId},
        {kMatchVersion, "release", hex4(device.releaseNumber), hex4(rule.version),
         device.releaseNumber, rule.version},
        {kMatchManufacturer, "manufacturer", quoted(text(device.manufacturer)),
         quoted(text(rule.manufacturer)), text(device.manufacturer), text(rule.manufacturer)},
        {kMatchProductString, "product", quoted(text(device.product)), quoted(text(rule.product)),
         text(device.product), text(rule.product)},
        {kMatchBusUsb, "bus", busName(device.bus), busName(HidBus::Usb), busName(device.bus),
         busName(HidBus::Usb)},
    };
}

} // namespace

std::vector<ListedDevice> listDevices(const MatchRule& rule, std::vector<HidDeviceInfo> devices) {
    std::vector<ListedDevice> listed;
    for (HidDeviceInfo& info : devices) {
        const int mismatches = mismatchedFields(rule, info);
        listed.push_back({std::move(info), mismatches});
    }
    std::sort(listed.begin(), listed.end(), [](const ListedDevice& a, const ListedDevice& b) {
        if ((a.mismatches == 0) != (b.mismatches == 0))
            return a.mismatches == 0;
        return a.info.path < b.info.path;
    });
    return listed;
}

QString mismatchText(const MatchRule& rule, const ListedDevice& device) {
    QStringList parts;
    for (const Field& field : fields(rule, device.info))
        if (device.mismatches & field.bit)
            parts += QStringLiteral("%1 %2 (wanted %3)")
                         .arg(QLatin1String(field.name), field.found, field.wanted);
    return parts.join(QStringLiteral(", "));
}

QString deviceLine(const MatchRule& rule, const ListedDevice& device) {
    const HidDeviceInfo& info = device.info;
    QString line = QStringLiteral("%1  serial %2  release %3  %4 %5")
                       .arg(printable(text(info.path)), quoted(text(info.serialNumber)),
                            hex4(info.releaseNumber), quoted(text(info.manufacturer)),
                            quoted(text(info.product)));
    if (device.mismatches != 0)
        line += QStringLiteral("  differs: ") + mismatchText(rule, device);
    return line;
}

QString deviceJson(const MatchRule& rule, const ListedDevice& device) {
    const HidDeviceInfo& info = device.info;
    QJsonObject object{
        {QStringLiteral("path"), text(info.path)},
        {QStringLiteral("serial"), text(info.serialNumber)},
        {QStringLiteral("release"), info.releaseNumber},
        {QStringLiteral("manufacturer"), text(info.manufacturer)},
        {QStringLiteral("product"), text(info.product)},
        {QStringLiteral("bus"), busName(info.bus)},
        {QStringLiteral("matches"), device.mismatches == 0},
    };
    if (device.mismatches != 0) {
        QJsonObject differs;
        for (const Field& field : fields(rule, info))
            if (device.mismatches & field.bit)
                differs.insert(QLatin1String(field.name),
                               QJsonObject{{QStringLiteral("found"), field.foundJson},
                                           {QStringLiteral("wanted"), field.wantedJson}});
        object.insert(QStringLiteral("differs"), differs);
    }
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString lookalikesText(const MatchRule& rule, int lookalikes) {
    const QString ids = QStringLiteral("%1:%2")
                            .arg(rule.vendorId, 4, 16, QLatin1Char('0'))
                            .arg(rule.productId, 4, 16, QLatin1Char('0'));
    return QStringLiteral("%1 other %2 device%3 %4 not match")
        .arg(lookalikes)
        .arg(ids, lookalikes == 1 ? QString() : QStringLiteral("s"),
             lookalikes == 1 ? QStringLiteral("does") : QStringLiteral("do"));
}

QString countLine(const MatchRule& rule, int boards, int lookalikes, bool lookalikesListed) {
    QString line = QStringLiteral("%1 board%2").arg(boards).arg(boards == 1 ? "" : "s");
    if (lookalikes == 0)
        return line;
    line += QStringLiteral("; ") + lookalikesText(rule, lookalikes);
    if (!lookalikesListed)
        line += QStringLiteral(" (--all lists them)");
    return line;
}

namespace {

// Escapes what would break the line or make the terminal show something other than the text:
// controls, and format characters such as a right-to-left override. With `quote`, also the
// quote and the backslash, so that the text can stand between quotes.
QString escapeText(const QString& text, bool quote) {
    QString out;
    for (const char32_t c : text.toUcs4()) {
        if (quote && (c == U'"' || c == U'\\')) {
            out += QLatin1Char('\\');
            out += QLatin1Char(c == U'"' ? '"' : '\\');
        } else if (c == U'\n') {
            out += QStringLiteral("\\n");
        } else if (c == U'\t') {
            out += QStringLiteral("\\t");
        } else if (c == U'\r') {
            out += QStringLiteral("\\r");
        } else if (QChar::isPrint(c)) {
            out += QString::fromUcs4(&c, 1);
        } else {
            out += QStringLiteral("\\u{%1}").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}

} // namespace

QString quoted(const QString& text) {
    return QLatin1Char('"') + escapeText(text, true) + QLatin1Char('"');
}

QString printable(const QString& text) { return escapeText(text, false); }

} // namespace tarnovid::ctl
