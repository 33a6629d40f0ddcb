// The emulator's command line on QCommandLineParser: "--name value" or "--name=value". Qt Core
// reads the words; what they must be, and the one-line complaint when they are not, is the
// emulator's own.

#include "options.h"

#include <QCommandLineParser>
#include <QStringList>
#include <charconv>
#include <utility>

namespace tarnovid::board {

namespace {

constexpr long kLongestMs = 24L * 3600 * 1000;

const char* const kDescription =
    R"(Plays a USB Tarnovid board (vendor 0x1234, product 0x0001, "Dravelko" "USB Tarnovid")
through the kernel's USB gadget framework, so the tool can be tried without the
hardware. Needs root, configfs and a USB device controller: on a desktop, load
dummy_hcd (modprobe dummy_hcd) and the board appears on the same machine.

The board keeps the output byte of each 0xFB command and answers each 0xFC
command with an input report whose first byte is its inputs. Every report it
receives is logged on stderr, one line each. On exit and on any signal that
would end it (SIGINT, SIGTERM, SIGHUP, SIGQUIT, ...) it unplugs and removes its
gadget; a closed log (stderr piped into head, say) does not end it. SIGUSR1
makes it stop reading output reports, or read them again. Only one emulator
serves a gadget name at a time.)";

// Decimal, or hexadecimal with 0x.
std::optional<long> parseNumber(const QString& given) {
    const std::string whole = given.toStdString();
    std::string_view text = whole;
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

// One option: its name, the word its value is shown as in --help and what that value must be
// (none for a flag), and what it does.
struct OptionInfo {
    const char* name;
    const char* value;
    const char* needs;
    const char* help;
};

constexpr const char* kMs = "needs milliseconds";

const OptionInfo kOptions[] = {
    {"inputs", "BYTE", "needs a byte value, 0 to 255 or 0x00 to 0xff",
     "answer reads with this input byte (default: inputs wired to the outputs, T2..T4 = D0..D2)"},
    {"answer-delay", "MS", kMs, "wait this long before answering a read"},
    {"never-answer", nullptr, nullptr, "never answer a read"},
    {"unplug-after", "MS", kMs, "unplug this long after the first plug"},
    {"replug-after", "MS", kMs, "plug in again this long after the unplug"},
    {"stop-reading-after", "MS", kMs,
     "stop reading output reports this long after the first plug (0: from the start), as a hung "
     "firmware does: the host's writes then stall once the gadget's queue is full"},
    {"stop-reading-for", "MS", kMs,
     "read them again this long after stopping (default: at the next SIGUSR1)"},
    {"udc", "NAME", "needs a controller name",
     "USB device controller (default: the first in /sys/class/udc)"},
    {"name", "NAME", "needs a plain directory name", "gadget directory name (default: tarnovid)"},
    {"configfs", "PATH", "needs a path", "where configfs is mounted (default: /sys/kernel/config)"},
};

std::string needs(const QString& name) {
    for (const OptionInfo& option : kOptions)
        if (option.needs != nullptr && name == QLatin1String(option.name))
            return option.needs;
    return "takes no value";
}

void addOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    parser.addOption(
        {{QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this text")});
    for (const OptionInfo& option : kOptions) {
        if (option.value != nullptr)
            parser.addOption({QString::fromLatin1(option.name), QString::fromUtf8(option.help),
                              QString::fromLatin1(option.value)});
        else
            parser.addOption({QString::fromLatin1(option.name), QString::fromUtf8(option.help)});
    }
}

// Qt says only in its own words which option it could not take: one that needs a value and was
// given none (last on the line), or a flag given one ("--never-answer=1"). Names it the
// emulator's way.
std::string whyNotParsed(const QCommandLineParser& parser, const QStringList& arguments) {
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty()) {
        const QString& name = unknown.first();
        return (name.size() == 1 ? "-" : "--") + name.toStdString() + ": unknown option";
    }
    for (const QString& argument : arguments.mid(1)) {
        const QString key = argument.section(QLatin1Char('='), 0, 0);
        if (argument.startsWith(QLatin1String("--")) && argument.contains(QLatin1Char('=')) &&
            needs(key.mid(2)) == "takes no value")
            return key.toStdString() + ": takes no value";
    }
    const QString last = arguments.last();
    if (arguments.size() > 1 && last.startsWith(QLatin1String("--")))
        return last.toStdString() + ": " + needs(last.mid(2));
    return parser.errorText().toStdString();
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string_view>& args) {
    ParsedOptions parsed;
    Options& o = parsed.options;
    QStringList arguments{QStringLiteral("tarnovid-board")};
    for (const std::string_view arg : args)
        arguments += QString::fromLocal8Bit(arg.data(), static_cast<qsizetype>(arg.size()));

    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(arguments)) {
        parsed.error = whyNotParsed(parser, arguments);
        return parsed;
    }
    if (const QStringList words = parser.positionalArguments(); !words.isEmpty()) {
        parsed.error = words.first().toStdString() + ": unknown option";
        return parsed;
    }
    auto fail = [&](const QString& name) {
        parsed.error = "--" + name.toStdString() + ": " + needs(name);
        return parsed;
    };

    o.help = parser.isSet(QStringLiteral("help"));
    o.neverAnswer = parser.isSet(QStringLiteral("never-answer"));
    if (parser.isSet(QStringLiteral("inputs"))) {
        const auto number = parseNumber(parser.value(QStringLiteral("inputs")));
        if (!number || *number < 0 || *number > 0xFF)
            return fail(QStringLiteral("inputs"));
        o.inputs = static_cast<std::uint8_t>(*number);
    }
    const std::pair<const char*, int Options::*> milliseconds[] = {
        {"answer-delay", &Options::answerDelayMs},
        {"unplug-after", &Options::unplugAfterMs},
        {"replug-after", &Options::replugAfterMs},
        {"stop-reading-after", &Options::stopReadingAfterMs},
        {"stop-reading-for", &Options::stopReadingForMs},
    };
    for (const auto& [option, member] : milliseconds) {
        const QString name = QString::fromLatin1(option);
        if (!parser.isSet(name))
            continue;
        const auto number = parseNumber(parser.value(name));
        if (!number || *number < 0 || *number > kLongestMs)
            return fail(name);
        o.*member = static_cast<int>(*number);
    }
    const std::pair<const char*, std::string Options::*> texts[] = {
        {"udc", &Options::udc},
        {"name", &Options::name},
        {"configfs", &Options::configfs},
    };
    for (const auto& [option, member] : texts) {
        const QString name = QString::fromLatin1(option);
        if (!parser.isSet(name))
            continue;
        o.*member = parser.value(name).toStdString();
        if ((o.*member).empty())
            return fail(name);
    }
    if (o.name.find('/') != std::string::npos || o.name == "." || o.name == "..")
        return fail(QStringLiteral("name"));

    if (o.replugAfterMs >= 0 && o.unplugAfterMs < 0)
        parsed.error = "--replug-after: needs --unplug-after";
    else if (o.stopReadingForMs >= 0 && o.stopReadingAfterMs < 0)
        parsed.error = "--stop-reading-for: needs --stop-reading-after";
    return parsed;
}

std::string usageText(std::string_view program) {
    QCommandLineParser parser;
    addOptions(parser);
    QString text = parser.helpText();
    // Without a QCoreApplication, Qt has no program name for the usage line.
    const qsizetype optionsAt = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && optionsAt > 0)
        text.replace(7, optionsAt - 7,
                     QString::fromLocal8Bit(program.data(), qsizetype(program.size())));
    return text.toStdString();
}

} // namespace tarnovid::board
