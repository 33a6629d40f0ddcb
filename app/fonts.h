#pragma once
// The window's three fonts. The design face is "MS Sans Serif" bold; where the system lacks it we
// take the first of a few metric look-alikes in which every caption still fits inside its box.

#include "layout.h"

#include <QFont>
#include <QString>
#include <QStringList>

namespace tarnovid {

// Faces tried in order: the design face, its TrueType successor, then look-alikes with its
// metrics. The last entry is a fallback that every Linux desktop has.
QStringList fontCandidates();

// The family the window uses: chosen once per process from fontCandidates().
QString windowFontFamily();

// The font of a role in a given family, at the design's size expressed in pixels (8.25 pt and
// 13.5 pt at 96 dpi), so the captions keep their size relative to the twip-based layout.
QFont windowFont(FontRole role, const QString& family);
QFont windowFont(FontRole role);

// True when `text` drawn on one line in `font` fits a box of the given size in pixels.
bool captionFits(const QFont& font, const QString& text, int widthPixels, int heightPixels);

} // namespace tarnovid
