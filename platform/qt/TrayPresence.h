#pragma once

// Whether a tray shows Varnu's icon, shared by the tray item that knows it and the windows that
// then offer what its menu would: the settings window's Quit button.
// Implements: the state, its listeners, and the quit action and language rule the windows use.
// Does not: decide the state (QtStatusItem does).

#include <QObject>
#include <functional>

namespace varnu::qt {

class TrayPresence final : public QObject {
    Q_OBJECT
public:
    bool isShown() const { return shown_; }
    void setShown(bool shown) {
        if (shown != shown_) {
            shown_ = shown;
            emit changed();
        }
    }

    std::function<void()> quit;
    std::function<bool()> isGerman;

signals:
    void changed();

private:
    // Until a tray takes the icon, the windows offer Quit.
    bool shown_ = false;
};

} // namespace varnu::qt
