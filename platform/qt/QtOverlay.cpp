#include "platform/qt/QtOverlay.h"

#include "platform/qt/LayerShellOverlay.h"
#include "platform/qt/OverlayPainting.h"
#include "platform/qt/QtScreens.h"
#include "platform/qt/XWaylandOverlay.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

namespace varnu::qt {

namespace {

Qt::WindowFlags overlayFlags() {
    Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput |
                            Qt::NoDropShadowWindowHint;
    if (isNativeWayland()) {
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
    return fillRectIn(description_, fill_);
}

void OverlayWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    paintOverlay(painter, description_, icon_, fill_, paintOpacity_);
}

bool OverlayWidget::paintsOpacity() const {
    // Wayland has no window opacity (Qt warns at every change); the picture fades instead.
    return isNativeWayland();
}

void OverlayWidget::setPaintOpacity(double opacity) {
    if (opacity != paintOpacity_) {
        paintOpacity_ = opacity;
        update();
    }
}

QtOverlayPanel::QtOverlayPanel(const OverlayDescription& description)
    : widget_(new OverlayWidget(description))
    , fade_(std::make_unique<OverlayFade>(
          widget_.data(), [this] { return alpha(); },
          [this](double opacity) { setAlpha(opacity); })) {}

double QtOverlayPanel::alpha() const {
    return widget_->paintsOpacity() ? widget_->paintOpacity() : widget_->windowOpacity();
}

void QtOverlayPanel::setAlpha(double alpha) {
    if (widget_->paintsOpacity()) {
        widget_->setPaintOpacity(alpha);
    } else {
        widget_->setWindowOpacity(alpha);
    }
}

QtOverlayPanel::~QtOverlayPanel() {
    fade_.reset();
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
    fade_->stop();
    setAlpha(alpha);
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
    fade_->start(target, duration, std::move(completion));
}

bool QtOverlayPanel::isAnimating() const {
    return fade_->isRunning();
}

std::unique_ptr<OverlayPanel> QtOverlayFactory::makePanel(const OverlayDescription& description) {
    // Where the compositor can place it, it does; elsewhere (GNOME, X11) a window of our own.
    if (auto display = wayland::WaylandDisplay::connectWithLayerShell()) {
        return std::make_unique<LayerShellOverlayPanel>(std::move(display), description);
    }
    // Without the layer shell only an X11 window can stand where the pointer is and stay out of
    // the focus: with Qt's windows on Wayland, one on an X connection of Varnu's own.
    if (isNativeWayland()) {
        if (auto window =
                x11::OverlayWindow::create(static_cast<int>(description.contentRect.width),
                                           static_cast<int>(description.contentRect.height))) {
            std::shared_ptr<x11::OverlayWindow> shared = std::move(window);
            xwaylandWindow_ = shared;
            return std::make_unique<XWaylandOverlayPanel>(std::move(shared), description);
        }
    }
    return std::make_unique<QtOverlayPanel>(description);
}

std::optional<QPointF> QtOverlayFactory::xwaylandPointer() const {
    const auto window = xwaylandWindow_.lock();
    if (!window) {
        return std::nullopt;
    }
    const auto point = window->pointer();
    if (!point) {
        return std::nullopt;
    }
    return QPointF(point->x, point->y);
}

} // namespace varnu::qt
