#include "command_line.h"

#include "exit_codes.h"
#include "output_value.h"

#include <QCommandLineParser>
#include <limits>

#ifndef TARNOVID_VERSION
#define TARNOVID_VERSION "unknown"
#endif

namespace tarnovid::ctl {

namespace {

constexpr int kMaxIntervalMs = 24 * 60 * 60 * 1000;

const char* const kDescription =
    "Drives a USB Tarnovid board from scripts and programs, beside the window or without it.\n"
    "\n"
    "Commands:\n"
    "  list         every matching board: path, serial number, release, manufacturer and\n"
    "               product, then how many; --all also lists 1234:0001 devices that do not\n"
    "               match and which field differs\n"
    "  set VALUE    write the outputs D0..D7: a byte (129, 0x81, 0b10000001), output names\n"
    "               (D7 D0) or none; prints nothing\n"
    "  get          read the inputs once: T2=1 T3=0 T4=1\n"
    "  watch        read the inputs repeatedly, one line per sample led by its local time\n"
    "               (ISO 8601 with milliseconds), until --count lines or Ctrl+C";

struct Options {
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Show the version and exit.")};
    QCommandLineOption json{QStringLiteral("json"),
                            QStringLiteral("list, get, watch: one JSON object per line.")};
    QCommandLineOption verbose{{QStringLiteral("v"), QStringLiteral("verbose")},
                               QStringLiteral("get, watch: add the raw input byte.")};
    QCommandLineOption all{QStringLiteral("all"),
                           QStringLiteral("list: also devices that do not match, and why.")};
    QCommandLineOption board{QStringLiteral("board"),
                             QStringLiteral("set, get, watch: the board at this system path "
                                            "(from list) instead of the first one; demo: a "
                                            "simulated board; demo:noreply, demo:stall, "
                                            "demo:short, demo:unplug-after=MS, "
                                            "demo:replug-after=MS: one that fails so."),
                             QStringLiteral("path")};
    QCommandLineOption interval{
        QStringLiteral("interval"),
        QStringLiteral("watch: milliseconds from one sample to the next (default %1).")
            .arg(kDefaultIntervalMs),
        QStringLiteral("ms")};
    QCommandLineOption count{QStringLiteral("count"),
                             QStringLiteral("watch: stop after this many lines (default: at "
                                            "Ctrl+C)."),
                             QStringLiteral("n")};
    QCommandLineOption changes{QStringLiteral("changes"),
                               QStringLiteral("watch: print a line only when T2..T4 change (the "
                                              "first sample always).")};

    void addTo(QCommandLineParser& parser) const {
        parser.setApplicationDescription(QString::fromUtf8(kDescription));
        parser.addOptions({help, version, json, verbose, all, board, interval, count, changes});
        parser.addPositionalArgument(QStringLiteral("command"),
                                     QStringLiteral("list, set, get or watch."),
                                     QStringLiteral("<command>"));
        parser.addPositionalArgument(QStringLiteral("value"),
                                     QStringLiteral("set: the outputs to switch on."),
                                     QStringLiteral("[value...]"));
    }
};

// Which options make sense with which command; anything else is more likely a slip than a wish.
bool allowed(Command command, const QString& option) {
    static const QStringList forList{QStringLiteral("json"), QStringLiteral("all")};
    static const QStringList forSet{QStringLiteral("board")};
    static const QStringList forGet{QStringLiteral("json"), QStringLiteral("verbose"),
                                    QStringLiteral("board")};
    static const QStringList forWatch{QStringLiteral("json"),  QStringLiteral("verbose"),
                                      QStringLiteral("board"), QStringLiteral("interval"),
                                      QStringLiteral("count"), QStringLiteral("changes")};
    switch (command) {
    case Command::List:
        return forList.contains(option);
    case Command::Set:
        return forSet.contains(option);
    case Command::Get:
        return forGet.contains(option);
    case Command::Watch:
        return forWatch.contains(option);
    case Command::Help:
    case Command::Version:
        break;
    }
    return true;
}

// A whole positive number no larger than `most`; 0 when it is anything else.
qint64 positive(const QString& text, qint64 most) {
    bool ok = false;
    const qint64 value = text.toLongLong(&ok);
    return ok && value >= 1 && value <= most && !text.startsWith(QLatin1Char('+')) ? value : 0;
}

} // namespace

ParsedCommandLine parseCommandLine(const QStringList& arguments) {
    ParsedCommandLine parsed;
    Invocation& run = parsed.invocation;
    auto usage = [&](const QString& why) {
        parsed.error = why;
        return parsed;
    };

    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(options.help)) {
        run.command = Command::Help;
        return parsed;
    }
    if (parser.isSet(options.version)) {
        run.command = Command::Version;
        return parsed;
    }

    QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return usage(QStringLiteral("no command given: list, set, get or watch (see --help)"));
    const QString name = words.takeFirst();
    if (name == QLatin1String("list"))
        run.command = Command::List;
    else if (name == QLatin1String("set"))
        run.command = Command::Set;
    else if (name == QLatin1String("get"))
        run.command = Command::Get;
    else if (name == QLatin1String("watch"))
        run.command = Command::Watch;
    else
        return usage(QStringLiteral("unknown command \"%1\": list, set, get or watch").arg(name));

    for (const QString& given : parser.optionNames()) {
        const QString option = given == QLatin1String("v") ? QStringLiteral("verbose") : given;
        if (!allowed(run.command, option))
            return usage(QStringLiteral("--%1 does not apply to %2").arg(option, name));
    }

    if (run.command == Command::Set) {
        QString error;
        const auto value = parseOutputValue(words, &error);
        if (!value)
            return usage(error);
        run.outputs = *value;
    } else if (!words.isEmpty()) {
        return usage(QStringLiteral("%1 takes no value, got \"%2\"").arg(name, words.join(' ')));
    }

    if (parser.isSet(options.json))
        run.style = Style::Json;
    else if (parser.isSet(options.verbose))
        run.style = Style::Verbose;
    run.all = parser.isSet(options.all);
    run.changesOnly = parser.isSet(options.changes);
    if (parser.isSet(options.board)) {
        run.board = parser.value(options.board);
        if (run.board.isEmpty())
            return usage(QStringLiteral("--board needs a path, as list shows it"));
    }
    if (parser.isSet(options.interval)) {
        run.intervalMs = int(positive(parser.value(options.interval), kMaxIntervalMs));
        if (run.intervalMs == 0)
            return usage(QStringLiteral("--interval takes milliseconds from 1 to %1, got \"%2\"")
                             .arg(kMaxIntervalMs)
                             .arg(parser.value(options.interval)));
    }
    if (parser.isSet(options.count)) {
        run.count = positive(parser.value(options.count), std::numeric_limits<qint64>::max());
        if (run.count == 0)
            return usage(QStringLiteral("--count takes a whole number of lines, 1 or more, got "
                                        "\"%1\"")
                             .arg(parser.value(options.count)));
    }
    return parsed;
}

QString helpText() {
    const Options options;
    QCommandLineParser parser;
    options.addTo(parser);
    QString text = parser.helpText();
    // Qt puts the path the program was started by into the usage line; the name reads better.
    const qsizetype optionsAt = text.indexOf(QLatin1String(" [options]"));
    if (text.startsWith(QLatin1String("Usage: ")) && optionsAt > 0)
        text.replace(7, optionsAt - 7, QStringLiteral("tarnovidctl"));
    text += QStringLiteral("\nExit codes:\n");
    for (const ExitCodeText& exit : kExitCodeTexts)
        text += QStringLiteral("  %1  %2\n")
                    .arg(int(exit.code))
                    .arg(QString::fromUtf8(exit.meaning.data(), qsizetype(exit.meaning.size())));
    return text;
}

QString versionText() { return QStringLiteral("tarnovidctl " TARNOVID_VERSION); }

} // namespace tarnovid::ctl
