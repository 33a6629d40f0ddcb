// Matching, report framing and the texts the link derives from what the system reports.

#include "board_facts.h"
#include "device_match.h"
#include "device_text.h"
#include "link_error.h"
#include "link_failure.h"
#include "open_refusal.h"
#include "report_framing.h"
#include "sim_board.h"
#include "wide_text.h"

#include <QTest>
#include <cerrno>
#include <functional>
#include <optional>
#include <system_error>

using namespace tarnovid;

namespace {

HidDeviceInfo genuine(std::string path = "/dev/hidraw3") {
    return tarnovidDeviceInfo(std::move(path));
}

// Written out rather than taken from board_facts.h: these are the board's documented identity
// and command codes, so a slip in that header shows here.
MatchRule tarnovidRule(int method = kMatchAll) {
    return {method, 0x1234, 1, 1, "Dravelko", "USB Tarnovid"};
}

} // namespace

class LinkLogicTest : public QObject {
    Q_OBJECT
private slots:
    void boardFactsAreTheDocumentedOnes();
    void eachBitChecksOnlyItsOwnField_data();
    void eachBitChecksOnlyItsOwnField();
    void fullRuleAcceptsOnlyTheGenuineBoard();
    void wantedIdsOutsideSixteenBitsNeverMatch();
    void enumerateFilterNarrowsOnlyByCheckedIds();
    void pickIsFirstMatchingByPath();
    void pickReturnsNothingWithoutMatch();

    void outputFrameIsReportIdThenBytesThenZeros();
    void countsOutsideTheReportOrTheBufferAreRejected();
    void replyIsCutToCountOrHandedOnShort();

    void onlyAPermissionRefusalIsAccessDenied();

    void deviceTextJoinsTrimmedStrings();
    void wideTextBecomesUtf8();
};

void LinkLogicTest::boardFactsAreTheDocumentedOnes() {
    QVERIFY(deviceMatches(tarnovidRule(), genuine()));
    QCOMPARE(board::kSetOutputs, 0xFB);
    QCOMPARE(board::kReadInputs, 0xFC);
}

void LinkLogicTest::eachBitChecksOnlyItsOwnField_data() {
    QTest::addColumn<int>("bit");
    QTest::addColumn<int>("field"); // which field of the device is spoiled
    // Field numbers: 0 vendor, 1 product id, 2 release, 3 manufacturer, 4 product, 5 bus.
    const int bits[] = {kMatchVendorId,     kMatchProductId,     kMatchVersion,
                        kMatchManufacturer, kMatchProductString, kMatchBusUsb};
    for (int bit = 0; bit < 6; ++bit)
        for (int field = 0; field < 6; ++field)
            QTest::addRow("bit%d-field%d", bits[bit], field) << bits[bit] << field;
}

void LinkLogicTest::eachBitChecksOnlyItsOwnField() {
    QFETCH(int, bit);
    QFETCH(int, field);
    HidDeviceInfo device = genuine();
    switch (field) {
    case 0:
        device.vendorId = 0x1235;
        break;
    case 1:
        device.productId = 2;
        break;
    case 2:
        device.releaseNumber = 0x0100;
        break;
    case 3:
        device.manufacturer = "dravelko";
        break; // case counts
    case 4:
        device.product = "USB Tarnovid ";
        break; // so does a trailing blank
    case 5:
        device.bus = HidBus::Bluetooth;
        break;
    }
    const int bits[] = {kMatchVendorId,     kMatchProductId,     kMatchVersion,
                        kMatchManufacturer, kMatchProductString, kMatchBusUsb};
    const bool spoiledFieldIsChecked = bits[field] == bit;
    QVERIFY(deviceMatches(tarnovidRule(bit), genuine()));
    QCOMPARE(deviceMatches(tarnovidRule(bit), device), !spoiledFieldIsChecked);
    // The full rule names the spoiled field and no other.
    QCOMPARE(mismatchedFields(tarnovidRule(), device), bits[field]);
    QCOMPARE(mismatchedFields(tarnovidRule(), genuine()), 0);
}

void LinkLogicTest::fullRuleAcceptsOnlyTheGenuineBoard() {
    const MatchRule rule = tarnovidRule();
    QVERIFY(deviceMatches(rule, genuine()));
    HidDeviceInfo unknownBus = genuine();
    unknownBus.bus = HidBus::Unknown;
    QVERIFY(!deviceMatches(rule, unknownBus));
    HidDeviceInfo noStrings = genuine();
    noStrings.manufacturer.clear();
    noStrings.product.clear();
    QVERIFY(!deviceMatches(rule, noStrings));
    QCOMPARE(mismatchedFields(rule, noStrings), kMatchManufacturer | kMatchProductString);
    // Without the string bits the same interface is acceptable.
    QVERIFY(deviceMatches(tarnovidRule(kMatchVendorId | kMatchProductId), noStrings));
    // An empty method accepts anything; bits above 32 are ignored.
    HidDeviceInfo other;
    other.vendorId = 0x046d;
    QVERIFY(deviceMatches(tarnovidRule(0), other));
    QVERIFY(deviceMatches(tarnovidRule(64 | 128), other));
    QVERIFY(!deviceMatches(tarnovidRule(64 | kMatchVendorId), other));
}

void LinkLogicTest::wantedIdsOutsideSixteenBitsNeverMatch() {
    MatchRule rule = tarnovidRule(kMatchVendorId | kMatchProductId | kMatchVersion);
    rule.vendorId = 0x1234 + 0x10000; // would wrap onto 0x1234
    QVERIFY(!deviceMatches(rule, genuine()));
    rule = tarnovidRule(kMatchVendorId | kMatchProductId | kMatchVersion);
    rule.productId = -65535; // would wrap onto 1
    QVERIFY(!deviceMatches(rule, genuine()));
    rule = tarnovidRule(kMatchVersion);
    rule.version = 0x10001;
    QVERIFY(!deviceMatches(rule, genuine()));
}

void LinkLogicTest::enumerateFilterNarrowsOnlyByCheckedIds() {
    EnumerateFilter f = enumerateFilter(tarnovidRule());
    QCOMPARE(f.vendorId, 0x1234);
    QCOMPARE(f.productId, 1);
    f = enumerateFilter(tarnovidRule(kMatchProductId | kMatchManufacturer));
    QCOMPARE(f.vendorId, 0);
    QCOMPARE(f.productId, 1);
    MatchRule impossible = tarnovidRule();
    impossible.vendorId = 0x11234;
    QCOMPARE(enumerateFilter(impossible).vendorId, 0);
}

void LinkLogicTest::pickIsFirstMatchingByPath() {
    HidDeviceInfo impostor = genuine("/dev/hidraw0");
    impostor.product = "USB Tarnovid II";
    const std::vector<HidDeviceInfo> listed = {genuine("/dev/hidraw7"), impostor,
                                               genuine("/dev/hidraw2"), genuine("/dev/hidraw5")};
    const auto picked = pickDevice(tarnovidRule(), listed);
    QVERIFY(picked.has_value());
    QCOMPARE(picked->path, std::string("/dev/hidraw2"));
    // The order the system lists them in does not matter.
    const std::vector<HidDeviceInfo> reversed(listed.rbegin(), listed.rend());
    QCOMPARE(pickDevice(tarnovidRule(), reversed)->path, std::string("/dev/hidraw2"));
}

void LinkLogicTest::pickReturnsNothingWithoutMatch() {
    QVERIFY(!pickDevice(tarnovidRule(), {}).has_value());
    HidDeviceInfo old = genuine();
    old.releaseNumber = 2;
    QVERIFY(!pickDevice(tarnovidRule(), {old}).has_value());
}

void LinkLogicTest::outputFrameIsReportIdThenBytesThenZeros() {
    const std::uint8_t request[9] = {board::kSetOutputs, 0x81, 7, 7, 7, 7, 7, 7, 7};
    const OutputFrame frame = frameOutputReport(request, sizeof request, 2);
    QCOMPARE(frame.size(), std::size_t(65));
    QCOMPARE(frame[0], 0); // no report ids on this board
    QCOMPARE(frame[1], board::kSetOutputs);
    QCOMPARE(frame[2], 0x81);
    for (std::size_t i = 3; i < frame.size(); ++i)
        QCOMPARE(frame[i], 0); // bytes past the count never leak out
    std::uint8_t full[64];
    for (int i = 0; i < 64; ++i)
        full[i] = static_cast<std::uint8_t>(i + 1);
    const OutputFrame whole = frameOutputReport(full, sizeof full, 64);
    QCOMPARE(whole[64], 64);
}

void LinkLogicTest::countsOutsideTheReportOrTheBufferAreRejected() {
    const std::uint8_t bytes[80] = {};
    using K = LinkError::Kind;
    QVERIFY(test::kindOf([&] { frameOutputReport(bytes, sizeof bytes, -1); }) == K::Rejected);
    QVERIFY(test::kindOf([&] { frameOutputReport(bytes, sizeof bytes, 65); }) == K::Rejected);
    QVERIFY(test::kindOf([&] { frameOutputReport(bytes, 1, 2); }) == K::Rejected);
    QVERIFY(test::kindOf([&] { replyBytes({1, 2}, -1); }) == K::Rejected);
    QVERIFY(test::kindOf([&] { replyBytes({1, 2}, 65); }) == K::Rejected);
    QCOMPARE(frameOutputReport(bytes, 0, 0)[1], 0);
}

void LinkLogicTest::replyIsCutToCountOrHandedOnShort() {
    std::vector<std::uint8_t> report(64, 0);
    report[0] = 0x05;
    report[1] = 0x09;
    QCOMPARE(replyBytes(report, 2), (std::vector<std::uint8_t>{0x05, 0x09}));
    QCOMPARE(replyBytes({0x06}, 2), (std::vector<std::uint8_t>{0x06}));
    QVERIFY(replyBytes({}, 2).empty());
    QVERIFY(replyBytes(report, 0).empty());
}

void LinkLogicTest::onlyAPermissionRefusalIsAccessDenied() {
    // As hidapi words them on Linux and on Windows.
    QVERIFY(isAccessDenied("Failed to open a device with path '/dev/hidraw0': Permission denied"));
    QVERIFY(isAccessDenied("hid_open_path/CreateFileW: (0x00000005) Access is denied."));
    QVERIFY(isAccessDenied(std::generic_category().message(EACCES))); // in the current locale
    QVERIFY(!isAccessDenied("Failed to open a device with path '/dev/hidraw0': No such device"));
    QVERIFY(!isAccessDenied("Device or resource busy"));
    QVERIFY(!isAccessDenied(""));
}

void LinkLogicTest::deviceTextJoinsTrimmedStrings() {
    HidDeviceInfo info = genuine();
    QCOMPARE(deviceText(info), std::string("Dravelko USB Tarnovid"));
    info.manufacturer = "  Dravelko\t";
    info.product = "USB Tarnovid  ";
    QCOMPARE(deviceText(info), std::string("Dravelko USB Tarnovid"));
    info.manufacturer = "   ";
    QCOMPARE(deviceText(info), std::string("USB Tarnovid"));
    info.manufacturer = "Dravelko";
    info.product.clear();
    QCOMPARE(deviceText(info), std::string("Dravelko"));
    info.manufacturer.clear();
    QCOMPARE(deviceText(info), std::string("HID 1234:0001"));
}

void LinkLogicTest::wideTextBecomesUtf8() {
    QCOMPARE(utf8FromWide(L"USB Tarnovid"), std::string("USB Tarnovid"));
    QCOMPARE(utf8FromWide(nullptr), std::string());
    // č (2 bytes), € (3 bytes), 😀 (4 bytes).
    const std::string expected = "\xC4\x8D \xE2\x82\xAC \xF0\x9F\x98\x80";
    QCOMPARE(utf8FromUtf32(U"\u010D \u20AC \U0001F600"), expected);
    QCOMPARE(utf8FromUtf16(u"\u010D \u20AC \U0001F600"), expected);
    QCOMPARE(utf8FromWide(L"\u010D \u20AC \U0001F600"), expected);
    // Broken input still yields valid UTF-8.
    const char16_t loneHigh[] = {u'a', 0xD83D, u'b', 0};
    QCOMPARE(utf8FromUtf16(loneHigh), std::string("a\xEF\xBF\xBD"
                                                  "b"));
    const char32_t beyond[] = {0x110000, 0};
    QCOMPARE(utf8FromUtf32(beyond), std::string("\xEF\xBF\xBD"));
}

QTEST_APPLESS_MAIN(LinkLogicTest)
#include "tst_link_logic.moc"
