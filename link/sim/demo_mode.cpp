#include "demo_mode.h"

#include <charconv>
#include <string>
#include <utility>

namespace tarnovid {

namespace {

constexpr std::string_view kDemo = "demo";
constexpr std::string_view kPrefix = "demo:";
constexpr const char* kKinds = "demo, demo:noreply, demo:stall, demo:short, "
                               "demo:unplug-after=MS, demo:replug-after=MS";

std::optional<DemoMode> refuse(std::string* why, std::string text) {
    if (why != nullptr)
        *why = std::move(text);
    return std::nullopt;
}

// Digits only: no sign, no space, no unit, nothing after them.
std::optional<std::chrono::milliseconds> period(std::string_view text) {
    long long value = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || text.front() < '0' || text.front() > '9')
        return std::nullopt;
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc{} || stop != end || value < 1 || value > kLongestDemoPeriod.count())
        return std::nullopt;
    return std::chrono::milliseconds(value);
}

} // namespace

bool isDemoPath(std::string_view path) { return path == kDemo || path.starts_with(kPrefix); }

std::optional<DemoMode> parseDemoMode(std::string_view path, std::string* why) {
    if (path == kDemo)
        return DemoMode{};
    if (!path.starts_with(kPrefix))
        return refuse(why, std::string("not a demo board: ") + kKinds);
    const std::string_view mode = path.substr(kPrefix.size());
    const std::size_t equals = mode.find('=');
    const std::string_view kind = mode.substr(0, equals);
    const bool valued = equals != std::string_view::npos;

    static constexpr std::pair<std::string_view, DemoMode::Kind> kPlain[] = {
        {"noreply", DemoMode::Kind::NoReply},
        {"stall", DemoMode::Kind::Stall},
        {"short", DemoMode::Kind::Short},
    };
    for (const auto& [name, plain] : kPlain) {
        if (kind != name)
            continue;
        if (valued)
            return refuse(why, std::string(name) + " takes no value");
        return DemoMode{plain, {}};
    }
    static constexpr std::pair<std::string_view, DemoMode::Kind> kTimed[] = {
        {"unplug-after", DemoMode::Kind::UnplugAfter},
        {"replug-after", DemoMode::Kind::ReplugAfter},
    };
    for (const auto& [name, timed] : kTimed) {
        if (kind != name)
            continue;
        const auto ms = valued ? period(mode.substr(equals + 1)) : std::nullopt;
        if (!ms)
            return refuse(why, std::string(name) + " needs =MS, whole milliseconds from 1 to " +
                                   std::to_string(kLongestDemoPeriod.count()));
        return DemoMode{timed, *ms};
    }
    return refuse(why, std::string("no such demo board; there are ") + kKinds);
}

} // namespace tarnovid
