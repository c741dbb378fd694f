#pragma once

// A combo box whose value changes only by a choice from its open list: a stray scroll or key
// press must never switch the system's output. Over the closed box the mouse wheel scrolls
// what is around it; the arrow keys open the list, and the other keys that would step through
// the entries (Home, End, Page Up and Down, typing a name) are left to the window.
// Tells when its list closes, whether an entry was chosen or not.

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QWheelEvent>
#include <functional>

namespace varnu::qt {

class PickerBox final : public QComboBox {
public:
    explicit PickerBox(QWidget* parent = nullptr)
        : QComboBox(parent) {
        setFocusPolicy(Qt::StrongFocus);
        // The list's popup, which closes on a choice, on Escape, on a click elsewhere, or when
        // the window loses the focus.
        view()->window()->installEventFilter(this);
    }

    std::function<void()> onListClosed;

protected:
    void wheelEvent(QWheelEvent* event) override { event->ignore(); }

    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Space:
        case Qt::Key_F4:
        case Qt::Key_Select:
            showPopup();
            event->accept();
            break;
        default:
            event->ignore();
            break;
        }
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide && watched == view()->window() && onListClosed) {
            onListClosed();
        }
        return QComboBox::eventFilter(watched, event);
    }
};

} // namespace varnu::qt
