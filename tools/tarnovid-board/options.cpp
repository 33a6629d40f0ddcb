// Plain argv parsing for the emulator: "--name value" or "--name=value".

#include "options.h"

#include <charconv>
#include <utility>

namespace tarnovid::board {

namespace {

// Decimal, or hexadecimal with 0x.
std::optional<long> parseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    long value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

// The options that take a time in milliseconds, or nullptr.
int* millisecondOption(Options& o, std::string_view key) {
    const std::pair<std::string_view, int Options::*> options[] = {
        {"--answer-delay", &Options::answerDelayMs},
        {"--unplug-after", &Options::unplugAfterMs},
        {"--replug-after", &Options::replugAfterMs},
        {"--stop-reading-after", &Options::stopReadingAfterMs},
        {"--stop-reading-for", &Options::stopReadingForMs},
    };
    for (const auto& [name, member] : options)
        if (key == name)
            return &(o.*member);
    return nullptr;
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string_view>& args) {
    ParsedOptions parsed;
    Options& o = parsed.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        std::string_view key = arg;
        std::optional<std::string_view> inlineValue;
        if (auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
            key = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        auto fail = [&](const std::string& why) {
            parsed.error = std::string(key) + ": " + why;
            return parsed;
        };
        auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        auto milliseconds = [&](int& target) -> bool {
            auto text = value();
            auto number = text ? parseNumber(*text) : std::nullopt;
            if (!number || *number < 0 || *number > 24L * 3600 * 1000)
                return false;
            target = static_cast<int>(*number);
            return true;
        };
        auto text = [&](std::string& target) -> bool {
            auto v = value();
            if (!v || v->empty())
                return false;
            target = std::string(*v);
            return true;
        };

        if (key == "--help" || key == "-h") {
            o.help = true;
        } else if (key == "--never-answer") {
            if (inlineValue)
                return fail("takes no value");
            o.neverAnswer = true;
        } else if (key == "--inputs") {
            auto v = value();
            auto number = v ? parseNumber(*v) : std::nullopt;
            if (!number || *number < 0 || *number > 0xFF)
                return fail("needs a byte value, 0 to 255 or 0x00 to 0xff");
            o.inputs = static_cast<std::uint8_t>(*number);
        } else if (int* target = millisecondOption(o, key)) {
            if (!milliseconds(*target))
                return fail("needs milliseconds");
        } else if (key == "--udc") {
            if (!text(o.udc))
                return fail("needs a controller name");
        } else if (key == "--name") {
            if (!text(o.name) || o.name.find('/') != std::string::npos || o.name == "." ||
                o.name == "..")
                return fail("needs a plain directory name");
        } else if (key == "--configfs") {
            if (!text(o.configfs))
                return fail("needs a path");
        } else {
            parsed.error = std::string(arg) + ": unknown option";
            return parsed;
        }
    }
    if (o.replugAfterMs >= 0 && o.unplugAfterMs < 0)
        parsed.error = "--replug-after: needs --unplug-after";
    else if (o.stopReadingForMs >= 0 && o.stopReadingAfterMs < 0)
        parsed.error = "--stop-reading-for: needs --stop-reading-after";
    return parsed;
}

std::string usageText(std::string_view program) {
    std::string text = "Usage: " + std::string(program) + " [options]\n";
    text += R"(
Plays a USB Tarnovid board (vendor 0x1234, product 0x0001, "Dravelko" "USB Tarnovid")
through the kernel's USB gadget framework, so the tool can be tried without the
hardware. Needs root, configfs and a USB device controller: on a desktop, load
dummy_hcd (modprobe dummy_hcd) and the board appears on the same machine.

The board keeps the output byte of each 0xFB command and answers each 0xFC
command with an input report whose first byte is its inputs. Every report it
receives is logged on stderr, one line each. On exit and on any signal that
would end it (SIGINT, SIGTERM, SIGHUP, SIGQUIT, ...) it unplugs and removes its
gadget; a closed log (stderr piped into head, say) does not end it. SIGUSR1
makes it stop reading output reports, or read them again. Only one emulator
serves a gadget name at a time.

Options:
  --inputs BYTE        answer reads with this input byte (default: inputs
                       wired to the outputs, T2..T4 = D0..D2)
  --answer-delay MS    wait this long before answering a read
  --never-answer       never answer a read
  --unplug-after MS    unplug this long after the first plug
  --replug-after MS    plug in again this long after the unplug
  --stop-reading-after MS
                       stop reading output reports this long after the first
                       plug (0: from the start), as a hung firmware does: the
                       host's writes then stall once the gadget's queue is full
  --stop-reading-for MS
                       read them again this long after stopping (default: at
                       the next SIGUSR1)
  --udc NAME           USB device controller (default: the first in /sys/class/udc)
  --name NAME          gadget directory name (default: tarnovid)
  --configfs PATH      where configfs is mounted (default: /sys/kernel/config)
  -h, --help           show this text
)";
    return text;
}

} // namespace tarnovid::board
