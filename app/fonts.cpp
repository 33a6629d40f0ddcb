#include "fonts.h"

#include "twips.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>

namespace tarnovid {

namespace {

constexpr int kStandardPixels = 11; // 8.25 pt at 96 dpi
constexpr int kHeadingPixels = 18;  // 13.5 pt at 96 dpi

bool allCaptionsFit(const QString& family) {
    for (const auto& def : controlLayouts()) {
        if (def.text.empty())
            continue;
        const QFont font = windowFont(def.font, family);
        const QString text = QString::fromUtf8(def.text.data(), qsizetype(def.text.size()));
        // Buttons centre their caption inside a bevel; leave room for it.
        const int inset = def.kind == ControlKind::Button ? 8 : 0;
        if (!captionFits(font, text, twipsToPixels(def.width) - inset, twipsToPixels(def.height)))
            return false;
    }
    return true;
}

// A face can be installed and still not be drawn in every role: Wine's "MS Sans Serif" has no
// italic, and Qt draws the italic credit in some other face instead of slanting it. Taking such a
// face would measure and show that stand-in instead of the next candidate.
bool drawnAsItself(const QString& family) {
    for (const FontRole role : {FontRole::Standard, FontRole::Heading, FontRole::Credit}) {
        if (QFontInfo(windowFont(role, family)).family().compare(family, Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

} // namespace

QStringList fontCandidates() {
    return {QStringLiteral("MS Sans Serif"),   QStringLiteral("Microsoft Sans Serif"),
            QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
            QStringLiteral("Helvetica"),       QStringLiteral("DejaVu Sans")};
}

QString windowFontFamily() {
    static const QString chosen = [] {
        const QStringList installed = QFontDatabase::families();
        QString firstInstalled;
        for (const QString& family : fontCandidates()) {
            if (!installed.contains(family, Qt::CaseInsensitive) || !drawnAsItself(family))
                continue;
            if (firstInstalled.isEmpty())
                firstInstalled = family;
            if (allCaptionsFit(family))
                return family;
        }
        // Nothing fits: the closest we have still beats the platform's arbitrary default.
        return firstInstalled.isEmpty() ? QFont().family() : firstInstalled;
    }();
    return chosen;
}

QFont windowFont(FontRole role, const QString& family) {
    QFont font(family);
    font.setPixelSize(role == FontRole::Heading ? kHeadingPixels : kStandardPixels);
    font.setWeight(QFont::Bold);
    font.setItalic(role == FontRole::Credit);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QFont windowFont(FontRole role) { return windowFont(role, windowFontFamily()); }

bool captionFits(const QFont& font, const QString& text, int widthPixels, int heightPixels) {
    const QFontMetrics metrics(font);
    // The bounding box catches italic overhang that the advance alone would miss.
    const int width =
        std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).right() + 1);
    return width <= widthPixels && metrics.height() <= heightPixels;
}

} // namespace tarnovid
