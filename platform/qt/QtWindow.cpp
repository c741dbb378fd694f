#include "platform/qt/QtWindow.h"

#include "platform/Image.h"
#include "platform/qt/SymbolIcons.h"
#include "platform/qt/TrayPresence.h"
#include "platform/qt/ViewTreeRenderer.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace varnu::qt {

QtWindow::QtWindow(std::shared_ptr<ViewContent> content, std::shared_ptr<TrayPresence> presence)
    : window_(new QWidget)
    , renderer_(std::make_unique<ViewTreeRenderer>(std::move(content)))
    , presence_(std::move(presence)) {
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(renderer_->rootWidget());
    if (presence_) {
        quit_ = new QPushButton;
        auto* row = new QHBoxLayout;
        row->setContentsMargins(20, 0, 20, 16);
        row->addStretch();
        row->addWidget(quit_);
        layout->addLayout(row);
        QObject::connect(quit_, &QPushButton::clicked, quit_, [presence = presence_] {
            if (presence->quit) {
                presence->quit();
            }
        });
        QObject::connect(presence_.get(), &TrayPresence::changed, quit_,
                         [this] { updateQuitButton(); });
        // The content is drawn again when its language changes; the button follows it.
        renderer_->setUpdateHandler([this] { updateQuitButton(); });
        updateQuitButton();
    }
    window_->setWindowIcon(symbolIcon(kApplicationIconSymbol, Qt::white));
    window_->setAttribute(Qt::WA_QuitOnClose, false);
    setStyleMask(styleMask_);
}

QtWindow::~QtWindow() {
    renderer_.reset();
    delete window_.data();
}

void QtWindow::setTitle(const std::string& title) {
    window_->setWindowTitle(QString::fromStdString(title));
}

void QtWindow::setStyleMask(std::uint32_t mask) {
    styleMask_ = mask;
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
    if (mask & kWindowStyleMaskTitled) {
        flags |= Qt::WindowTitleHint;
    } else {
        flags |= Qt::FramelessWindowHint;
    }
    if (mask & kWindowStyleMaskClosable) {
        flags |= Qt::WindowCloseButtonHint;
    }
    if (mask & kWindowStyleMaskMiniaturizable) {
        flags |= Qt::WindowMinimizeButtonHint;
    }
    if (mask & kWindowStyleMaskResizable) {
        flags |= Qt::WindowMaximizeButtonHint;
    }
    const bool wasVisible = window_->isVisible();
    window_->setWindowFlags(flags);
    window_->adjustSize();
    if (mask & kWindowStyleMaskResizable) {
        window_->layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
        window_->setMinimumSize(window_->minimumSizeHint());
        window_->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        // Fixed at the content's size, and following it when rows come and go.
        window_->layout()->setSizeConstraint(QLayout::SetFixedSize);
    }
    if (wasVisible) {
        window_->show();
    }
}

void QtWindow::setReleasedWhenClosed(bool /*released*/) {
    // The window is the core's to keep: closing only ever hides it.
}

void QtWindow::center() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (!screen) {
        return;
    }
    const QRect available = screen->availableGeometry();
    const QSize size = window_->frameGeometry().size().expandedTo(window_->size());
    // A little above the middle, where a dialog-like window sits comfortably.
    QRect placed(QPoint(available.x() + (available.width() - size.width()) / 2,
                        available.y() + (available.height() - size.height()) / 3),
                 size);
    // Beside another window of Varnu's that is already shown (the demo's), not over it.
    for (const QWidget* other : QApplication::topLevelWidgets()) {
        if (other == window_ || !other->isVisible() || other->windowType() != Qt::Window) {
            continue;
        }
        const QRect taken = other->frameGeometry();
        if (!taken.intersects(placed)) {
            continue;
        }
        constexpr int kGap = 16;
        const QRect right(QPoint(taken.right() + 1 + kGap, taken.top()), size);
        const QRect left(QPoint(taken.left() - kGap - size.width(), taken.top()), size);
        if (available.contains(right)) {
            placed = right;
        } else if (available.contains(left)) {
            placed = left;
        }
    }
    window_->move(placed.topLeft());
}

void QtWindow::updateQuitButton() {
    if (!presence_) {
        return;
    }
    const bool german = presence_->isGerman && presence_->isGerman();
    quit_->setText(german ? QStringLiteral("Varnu beenden") : QStringLiteral("Quit Varnu"));
    quit_->setVisible(!presence_->isShown());
}

void QtWindow::makeKeyAndOrderFront() {
    updateQuitButton();
    if (window_->isMinimized()) {
        window_->showNormal();
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

bool QtWindow::isVisible() const {
    return window_->isVisible() && !window_->isMinimized();
}

std::shared_ptr<Window> QtWindowFactory::makeWindow(std::shared_ptr<ViewContent> content) {
    return std::make_shared<QtWindow>(std::move(content), presence_);
}

} // namespace varnu::qt
