#include "board_listing.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <tarnovid.h>

namespace tarnovid::ctl {

namespace {

QString text(const char* utf8) { return QString::fromUtf8(utf8); }

QString hex4(long long value) { return QStringLiteral("0x%1").arg(value, 4, 16, QLatin1Char('0')); }

// The library's names, which its messages and the Python module use too.
QString busName(int bus) { return text(tarnovid_bus_name(bus)); }

// One of the board's marks: its bit, and what the device has and a board has, as text and as
// JSON values.
struct Field {
    unsigned bit;
    QString found, wanted;
    QJsonValue foundJson, wantedJson;
    QString name() const { return text(tarnovid_field_name(bit)); }
};

std::vector<Field> fields(const ListedDevice& device) {
    const QString manufacturer = QStringLiteral(TARNOVID_MANUFACTURER);
    const QString product = QStringLiteral(TARNOVID_PRODUCT);
    return {
        {TARNOVID_DIFFERS_VENDOR_ID, hex4(device.vendorId), hex4(TARNOVID_VENDOR_ID),
         device.vendorId, TARNOVID_VENDOR_ID},
        {TARNOVID_DIFFERS_PRODUCT_ID, hex4(device.productId), hex4(TARNOVID_PRODUCT_ID),
         device.productId, TARNOVID_PRODUCT_ID},
        {TARNOVID_DIFFERS_RELEASE, hex4(device.release), hex4(TARNOVID_RELEASE), device.release,
         TARNOVID_RELEASE},
        {TARNOVID_DIFFERS_MANUFACTURER, quoted(device.manufacturer), quoted(manufacturer),
         device.manufacturer, manufacturer},
        {TARNOVID_DIFFERS_PRODUCT, quoted(device.product), quoted(product), device.product,
         product},
        {TARNOVID_DIFFERS_BUS, busName(device.bus), busName(TARNOVID_BUS_USB), busName(device.bus),
         busName(TARNOVID_BUS_USB)},
    };
}

} // namespace

int listDevices(std::vector<ListedDevice>& devices) {
    tarnovid_device* list = nullptr;
    const int code = tarnovid_list(1, &list);
    for (const tarnovid_device* it = list; it != nullptr; it = it->next)
        devices.push_back({text(it->path), text(it->serial), text(it->manufacturer),
                           text(it->product), it->vendor_id, it->product_id, it->release, it->bus,
                           it->differs});
    tarnovid_free_list(list);
    return code;
}

QString mismatchText(const ListedDevice& device) {
    QStringList parts;
    for (const Field& field : fields(device))
        if (device.differs & field.bit)
            parts +=
                QStringLiteral("%1 %2 (wanted %3)").arg(field.name(), field.found, field.wanted);
    return parts.join(QStringLiteral(", "));
}

QString deviceLine(const ListedDevice& device) {
    QString line = QStringLiteral("%1  serial %2  release %3  %4 %5")
                       .arg(printable(device.path), quoted(device.serial), hex4(device.release),
                            quoted(device.manufacturer), quoted(device.product));
    if (device.differs != 0)
        line += QStringLiteral("  differs: ") + mismatchText(device);
    return line;
}

QString deviceJson(const ListedDevice& device) {
    QJsonObject object{
        {QStringLiteral("path"), device.path},
        {QStringLiteral("serial"), device.serial},
        {QStringLiteral("release"), device.release},
        {QStringLiteral("manufacturer"), device.manufacturer},
        {QStringLiteral("product"), device.product},
        {QStringLiteral("bus"), busName(device.bus)},
        {QStringLiteral("matches"), device.differs == 0},
    };
    if (device.differs != 0) {
        QJsonObject differs;
        for (const Field& field : fields(device))
            if (device.differs & field.bit)
                differs.insert(field.name(),
                               QJsonObject{{QStringLiteral("found"), field.foundJson},
                                           {QStringLiteral("wanted"), field.wantedJson}});
        object.insert(QStringLiteral("differs"), differs);
    }
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

bool isLookalike(const ListedDevice& device) {
    return device.differs != 0 &&
           (device.differs & (TARNOVID_DIFFERS_VENDOR_ID | TARNOVID_DIFFERS_PRODUCT_ID)) == 0;
}

QString lookalikesText(int lookalikes) {
    const QString ids = QStringLiteral("%1:%2")
                            .arg(TARNOVID_VENDOR_ID, 4, 16, QLatin1Char('0'))
                            .arg(TARNOVID_PRODUCT_ID, 4, 16, QLatin1Char('0'));
    return QStringLiteral("%1 other %2 device%3 %4 not match")
        .arg(lookalikes)
        .arg(ids, lookalikes == 1 ? QString() : QStringLiteral("s"),
             lookalikes == 1 ? QStringLiteral("does") : QStringLiteral("do"));
}

QString countLine(int boards, int lookalikes, bool lookalikesListed) {
    QString line = QStringLiteral("%1 board%2").arg(boards).arg(boards == 1 ? "" : "s");
    if (lookalikes == 0)
        return line;
    line += QStringLiteral("; ") + lookalikesText(lookalikes);
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
