#include "platform/qt/QtOverlay.h"

#include "platform/qt/QtScreens.h"
#include "platform/qt/SymbolIcons.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>

namespace varnu::qt {

namespace {

// The dark glass of an on-screen display, readable over light and dark backgrounds alike.
const QColor kBackground(28, 28, 30, 200);

Qt::WindowFlags overlayFlags() {
    Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                            Qt::NoDropShadowWindowHint;
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // Wayland shows pop-up kinds only for a parent window; a tool window floats on its own.
        return flags | Qt::Tool;
    }
    return flags | Qt::ToolTip | Qt::X11BypassWindowManagerHint;
}

QPainterPath roundedOutline(const QRectF& rect, double radius) {
    QPainterPath outline;
    outline.addRoundedRect(rect, radius, radius);
    return outline;
}

// A rectangle that counts y upwards from the bottom of a frame of the given height, in the
// frame's top-down coordinates.
QRectF flipped(const Rect& rect, double frameHeight) {
    return {rect.x, frameHeight - (rect.y + rect.height), rect.width, rect.height};
}

} // namespace

OverlayWidget::OverlayWidget(const OverlayDescription& description)
    : QWidget(nullptr, overlayFlags())
    , description_(description) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_X11NetWmWindowTypeNotification);
    setAttribute(Qt::WA_QuitOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(static_cast<int>(description.contentRect.width),
                 static_cast<int>(description.contentRect.height));
    setWindowTitle(QStringLiteral("Varnu"));
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        // An X server without a compositing manager shows the transparent corners black; the
        // window's shape keeps them off the screen, with or without one.
        setMask(QRegion(
            roundedOutline(QRectF(rect()), description.cornerRadius).toFillPolygon().toPolygon()));
    }
}

void OverlayWidget::setIconImage(std::optional<SymbolImage> image) {
    if (image != icon_) {
        icon_ = std::move(image);
        update();
    }
}

void OverlayWidget::setFillFrame(const Rect& frame) {
    if (!(frame == fill_)) {
        fill_ = frame;
        update();
    }
}

QRectF OverlayWidget::iconRect() const {
    return flipped(description_.iconFrame, description_.contentRect.height);
}

QRectF OverlayWidget::barRect() const {
    return flipped(description_.barFrame, description_.contentRect.height);
}

QRectF OverlayWidget::fillRect() const {
    const QRectF bar = barRect();
    const QRectF fill = flipped(fill_, description_.barFrame.height);
    return fill.translated(bar.topLeft());
}

void OverlayWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    painter.fillPath(roundedOutline(QRectF(rect()), description_.cornerRadius), kBackground);

    if (icon_) {
        paintSymbol(painter, iconRect(), icon_->symbolName, Qt::white);
    }

    const double radius = description_.barCornerRadius;
    const QPainterPath track = roundedOutline(barRect(), radius);
    QColor trackColor(Qt::white);
    trackColor.setAlphaF(static_cast<float>(description_.trackWhiteAlpha));
    painter.fillPath(track, trackColor);

    const QRectF fill = fillRect();
    if (fill.width() > 0 && fill.height() > 0) {
        // The fill is a subview of the track, so it is clipped by it.
        painter.setClipPath(track);
        painter.fillPath(roundedOutline(fill, radius), Qt::white);
    }
}

QtOverlayPanel::QtOverlayPanel(const OverlayDescription& description)
    : widget_(new OverlayWidget(description)) {}

QtOverlayPanel::~QtOverlayPanel() {
    if (animation_) {
        animation_->stop();
    }
    delete widget_.data();
}

void QtOverlayPanel::setIconImage(std::optional<SymbolImage> image) {
    widget_->setIconImage(std::move(image));
}

void QtOverlayPanel::setFillFrame(const Rect& frame) {
    widget_->setFillFrame(frame);
}

void QtOverlayPanel::setFrameOrigin(Point origin) {
    const QPointF topLeft = windowTopLeft(origin, widget_->height(), primaryScreenBottom());
    widget_->move(topLeft.toPoint());
}

void QtOverlayPanel::setAlphaValue(double alpha) {
    if (isAnimating()) {
        animation_->stop();
        finishAnimation();
    }
    widget_->setWindowOpacity(alpha);
}

void QtOverlayPanel::orderFrontRegardless() {
    widget_->show();
    widget_->raise();
}

void QtOverlayPanel::orderOut() {
    widget_->hide();
}

void QtOverlayPanel::animateAlphaValue(double target, std::chrono::milliseconds duration,
                                       std::function<void()> completion) {
    if (isAnimating()) {
        animation_->stop();
        finishAnimation();
    }
    completion_ = std::move(completion);
    if (!animation_) {
        animation_ = new QPropertyAnimation(widget_.data(), "windowOpacity", widget_.data());
        QObject::connect(animation_.data(), &QAbstractAnimation::finished, widget_.data(),
                         [this] { finishAnimation(); });
    }
    animation_->setDuration(static_cast<int>(duration.count()));
    animation_->setStartValue(widget_->windowOpacity());
    animation_->setEndValue(target);
    animation_->start();
}

bool QtOverlayPanel::isAnimating() const {
    return animation_ && animation_->state() == QAbstractAnimation::Running;
}

void QtOverlayPanel::finishAnimation() {
    if (!completion_) {
        return;
    }
    // The completion runs on a later turn of the main queue, never inside the caller.
    QTimer::singleShot(0, widget_.data(), std::move(completion_));
    completion_ = nullptr;
}

std::unique_ptr<OverlayPanel> QtOverlayFactory::makePanel(const OverlayDescription& description) {
    return std::make_unique<QtOverlayPanel>(description);
}

} // namespace varnu::qt
