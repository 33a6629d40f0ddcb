#include "failure_text.h"

#include "open_refusal.h"
#include "tarnovid.h"

#include <algorithm>
#include <cstdio>

namespace tarnovid::lib {

namespace {

// Said with every refusal for want of permission; the README gives the same words.
#ifdef __linux__
const char* const kAccessHint =
    ": the udev rule 70-tarnovid.rules must be installed and you logged in at the computer; then "
    "replug the board or run: sudo udevadm control --reload-rules && sudo udevadm trigger "
    "--subsystem-match=hidraw --action=change";
#else
const char* const kAccessHint = "";
#endif

// The link's own texts are one line already; a system's reason inside them may not be.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

std::string fieldNames(int mismatches) {
    static const std::pair<int, const char*> kFields[] = {
        {kMatchVendorId, "vendor id"},    {kMatchProductId, "product id"},
        {kMatchVersion, "release"},       {kMatchManufacturer, "manufacturer"},
        {kMatchProductString, "product"}, {kMatchBusUsb, "bus"},
    };
    std::string names;
    for (const auto& [bit, name] : kFields)
        if (mismatches & bit)
            names += (names.empty() ? "" : ", ") + std::string(name);
    return names;
}

} // namespace

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[12];
            std::snprintf(code, sizeof code, "\\u{%04x}", byte);
            out += code;
        } else {
            out += c;
        }
    }
    return out;
}

Failure refusalFailure(const BoardLink::Refusal& refusal) {
    if (refusal.path.empty()) // the system's device list itself failed
        return {TARNOVID_FAILED, "cannot look for boards: " + escaped(refusal.reason)};
    if (isAccessDenied(refusal.reason))
        return {TARNOVID_ACCESS_DENIED, "access denied to " + escaped(refusal.path) + " (" +
                                            escaped(refusal.reason) + ")" + kAccessHint};
    return {TARNOVID_FAILED,
            "cannot open " + escaped(refusal.path) + ": " + escaped(refusal.reason)};
}

Failure noBoardFailure(const char* path, const MatchRule& rule,
                       const std::vector<HidDeviceInfo>& candidates) {
    if (path != nullptr) {
        std::string text = "no board at " + escaped(path);
        for (const HidDeviceInfo& device : candidates)
            if (device.path == path && mismatchedFields(rule, device) != 0)
                text += ": it differs in " + fieldNames(mismatchedFields(rule, device));
        return {TARNOVID_NO_BOARD, text};
    }
    const auto lookalikes = std::count_if(candidates.begin(), candidates.end(),
                                          [&](auto& d) { return mismatchedFields(rule, d) != 0; });
    if (lookalikes == 0)
        return {TARNOVID_NO_BOARD, "no board found"};
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x:%04x", unsigned(rule.vendorId & 0xFFFF),
                  unsigned(rule.productId & 0xFFFF));
    return {TARNOVID_NO_BOARD, "no board found; " + std::to_string(lookalikes) + " other " + ids +
                                   (lookalikes == 1 ? " device does" : " devices do") +
                                   " not match"};
}

Failure readFailure(const LinkError& error) {
    switch (error.kind()) {
    case LinkError::Kind::TimedOut:
        return {TARNOVID_NO_ANSWER, "no answer: " + oneLine(error.what())};
    case LinkError::Kind::Lost:
        return {TARNOVID_BOARD_LOST, "board lost: " + oneLine(error.what())};
    case LinkError::Kind::Closed:
        return {TARNOVID_CLOSED, "closed: " + oneLine(error.what())};
    case LinkError::Kind::NotOpen: // a board is open from its open to its close
    case LinkError::Kind::Rejected:
        break;
    }
    return {TARNOVID_FAILED, oneLine(error.what())};
}

Failure setFailure(const LinkError& error) {
    // A board that stops taking reports is not slow to answer: nothing was asked of it.
    if (error.kind() == LinkError::Kind::TimedOut)
        return {TARNOVID_NO_ANSWER, "not taken: " + oneLine(error.what())};
    return readFailure(error);
}

} // namespace tarnovid::lib
