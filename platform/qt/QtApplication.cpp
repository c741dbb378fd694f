#include "platform/qt/QtApplication.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace varnu::qt {

namespace {

bool hasVisibleWindows() {
    for (auto* widget : QApplication::topLevelWidgets()) {
        if (widget->isWindow() && widget->isVisible() && !widget->isMinimized() &&
            widget->windowType() == Qt::Window) {
            return true;
        }
    }
    return false;
}

} // namespace

QtApplication::QtApplication() {
    QApplication::setQuitOnLastWindowClosed(false);
}

void QtApplication::setActivationPolicy(ActivationPolicy policy) {
    // An accessory shows no main window of its own; the tray is its face. Qt gives a window a
    // taskbar entry only while it is shown, so there is nothing more to switch off.
    policy_ = policy;
    QApplication::setQuitOnLastWindowClosed(false);
}

void QtApplication::setDelegate(std::weak_ptr<ApplicationDelegate> delegate) {
    delegate_ = std::move(delegate);
}

void QtApplication::run() {
    if (terminating_) {
        return;
    }
    QTimer::singleShot(0, qApp, [this] {
        if (terminating_) {
            return;
        }
        if (auto delegate = delegate_.lock()) {
            delegate->applicationDidFinishLaunching();
        }
    });
    QApplication::exec();
}

void QtApplication::activateIgnoringOtherApps(bool /*flag*/) {
    // Activation belongs to a window on X11 and Wayland; the window raises itself when it is
    // brought to the front.
}

void QtApplication::terminate() {
    if (terminating_) {
        return;
    }
    terminating_ = true;
    if (auto delegate = delegate_.lock()) {
        delegate->applicationWillTerminate();
    }
    QApplication::exit(0);
}

void QtApplication::reopen() {
    if (terminating_) {
        return;
    }
    if (auto delegate = delegate_.lock()) {
        delegate->applicationShouldHandleReopen(hasVisibleWindows());
    }
}

} // namespace varnu::qt
