// The README and the manual pages quote what the programs say when something fails. Every such
// quote must be a line the code says today, word for word, for the example it shows: a change of
// wording that leaves a quote behind fails here.

#include "failure_words.h"
#include "link_settings.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace tarnovid;

namespace {

// Each failure the documents show, for the examples they use, as the window and tarnovidctl
// print it.
QSet<QString> linesTheCodeSays() {
    const std::string denied =
        "Failed to open a device with path '/dev/hidraw0': Permission denied";
    const MatchRule rule = matchRule(kGenuineBoardLink);
    const std::vector<std::string> messages = {
        words::refusal({"/dev/hidraw0", denied}),
        words::refusal({"/dev/hidraw0", "Device or resource busy"}),
        words::refusal({"", "Couldn't create udev context"}),
        words::noBoard(nullptr, rule, {}),
        words::noBoard("/dev/hidraw9", rule, {}),
    };
    QSet<QString> lines;
    for (const std::string& message : messages)
        for (const char* program : {"Tarnovid: ", "tarnovidctl: "})
            lines.insert(QString::fromUtf8(program) + QString::fromStdString(message));
    return lines;
}

QString read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// The lines of a document that quote a program's failure: in the README's code blocks, in a
// manual page's no-fill blocks (with troff's escapes undone).
QStringList quotes(const QString& text, bool troff) {
    static const QRegularExpression quoted(QStringLiteral("^(Tarnovid|tarnovidctl): "));
    QStringList found;
    bool inBlock = false;
    for (QString line : text.split(QLatin1Char('\n'))) {
        if (troff) {
            if (line.startsWith(QLatin1String(".nf")) || line.startsWith(QLatin1String(".fi")))
                inBlock = line.startsWith(QLatin1String(".nf"));
            line.replace(QLatin1String("\\-"), QLatin1String("-"))
                .replace(QLatin1String("\\e"), QLatin1String("\\"));
        } else if (line.startsWith(QLatin1String("```"))) {
            inBlock = !inBlock;
            continue;
        }
        if (inBlock && quoted.match(line).hasMatch())
            found += line;
    }
    return found;
}

} // namespace

class DocumentedWordsTest : public QObject {
    Q_OBJECT
private slots:
    void everyQuotedFailureIsWhatTheCodeSays_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<int>("atLeast"); // so that a document whose quotes went missing fails
        QTest::newRow("README.md") << QStringLiteral("README.md") << 2;
        QTest::newRow("tarnovid(1)") << QStringLiteral("packaging/man/tarnovid.1") << 3;
    }

    void everyQuotedFailureIsWhatTheCodeSays() {
        QFETCH(QString, document);
        QFETCH(int, atLeast);
        const QString text = read(QDir(QStringLiteral(TARNOVID_SOURCE_DIR)).filePath(document));
        QVERIFY2(!text.isEmpty(), qPrintable(document));
        const QStringList found = quotes(text, document.endsWith(QLatin1String(".1")));
        QVERIFY2(found.size() >= atLeast, qPrintable(QString::number(found.size())));
        const QSet<QString> said = linesTheCodeSays();
        for (const QString& line : found)
            QVERIFY2(said.contains(line), qPrintable(document +
                                                     QStringLiteral(" quotes words the "
                                                                    "code does not say: ") +
                                                     line));
    }
};

QTEST_GUILESS_MAIN(DocumentedWordsTest)
#include "tst_documented_words.moc"
