#include "platform/qt/FormWidgets.h"

#include "platform/qt/ViewStyle.h"

#include <QBoxLayout>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>

namespace varnu::qt {

namespace {

constexpr double kCardRadius = 9;
constexpr int kRowHeight = 28;
constexpr int kNarrowestText = 80;

} // namespace

FormScrollArea::FormScrollArea(QWidget* content) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setWidget(content);
    content->installEventFilter(this);
}

QSize FormScrollArea::sizeHint() const {
    const QSize content = widget()->sizeHint();
    const int height = widget()->hasHeightForWidth() ? widget()->heightForWidth(width()) : -1;
    return {content.width(), std::max(height, content.height())};
}

bool FormScrollArea::eventFilter(QObject* watched, QEvent* event) {
    // Rows that come or go change the height the form wants.
    if (watched == widget() && event->type() == QEvent::LayoutRequest) {
        updateGeometry();
    }
    return QScrollArea::eventFilter(watched, event);
}

void FormScrollArea::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    // Texts wrap anew at another width.
    updateGeometry();
}

void SectionCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base = palette().color(QPalette::Base);
    const QColor edge = mix(base, palette().color(QPalette::WindowText), 0.13);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius, kCardRadius);
    painter.fillPath(card, base);
    painter.setPen(QPen(edge, 1));
    painter.drawPath(card);
    painter.setRenderHint(QPainter::Antialiasing, false);
    QWidget* previous = nullptr;
    for (int index = 0; layout() && index < layout()->count(); ++index) {
        auto* row = layout()->itemAt(index)->widget();
        if (!row || !row->isVisible()) {
            continue;
        }
        if (previous) {
            const int y = (previous->geometry().bottom() + row->geometry().top() + 1) / 2;
            painter.drawLine(12, y, width() - 13, y);
        }
        previous = row;
    }
}

WrappingLabel::WrappingLabel() {
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize WrappingLabel::sizeHint() const {
    const QMargins margins = contentsMargins();
    const int oneLine =
        fontMetrics().horizontalAdvance(text()) + 1 + margins.left() + margins.right();
    return {oneLine, heightForWidth(oneLine)};
}

QSize WrappingLabel::minimumSizeHint() const {
    const QMargins margins = contentsMargins();
    return {std::min(sizeHint().width(), kNarrowestText),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

QWidget* formRow(QBoxLayout*& layout) {
    auto* widget = new QWidget;
    layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(8);
    widget->setMinimumHeight(kRowHeight);
    return widget;
}

} // namespace varnu::qt
