#pragma once

// The small widgets a rendered form is made of.
// Implements: the scrolling area of a form, as tall as what it holds unless its frame is
// shorter; the rounded card of a form section with hairlines between its visible rows, a text
// that would rather stay on one line and wraps only when its row is too narrow, and the row
// that holds a control beside its label.
// Does not: know the view tree; the renderer puts them together.

#include <QLabel>
#include <QScrollArea>
#include <QWidget>

class QBoxLayout;

namespace varnu::qt {

class FormScrollArea final : public QScrollArea {
public:
    // Scrolls the form's content.
    explicit FormScrollArea(QWidget* content);

    // The content's height at the area's width (wrapped texts included), not capped at a few
    // dozen lines as a scroll area's is: a window ends after its last group.
    QSize sizeHint() const override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
};

class SectionCard final : public QWidget {
public:
    explicit SectionCard(QWidget* parent = nullptr)
        : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override;
};

class WrappingLabel final : public QLabel {
public:
    WrappingLabel();

    QSize sizeHint() const override;
    // One line high: the layout asks heightForWidth for the height at the width it gives.
    QSize minimumSizeHint() const override;
};

// A row of a form at least one control high; layout receives its horizontal layout.
QWidget* formRow(QBoxLayout*& layout);

} // namespace varnu::qt
