#pragma once

// How the view tree's text styles, colours and alignments look in Qt Widgets.
// Implements: the palette colours of the primary and secondary (dimmed) styles and the green and
// orange of status lines; the title-2 and callout fonts scaled from the application's font;
// styling a label with them; the horizontal alignment of a stack's children.
// Does not: follow a theme change while a label is shown (the next update styles it again).

#include "platform/ViewTree.h"

#include <QColor>
#include <QFont>

class QLabel;

namespace varnu::qt {

// The colour `share` of the way from a to b.
QColor mix(const QColor& a, const QColor& b, double share);
QColor colorFor(TextColor color);
QFont fontFor(TextStyle style, bool bold);
void styleLabel(QLabel* label, TextStyle style, TextColor color, bool bold);
Qt::Alignment horizontal(HorizontalAlignment alignment);

} // namespace varnu::qt
