#include "platform/qt/DemoWindow.h"

#include "ddc/VCP.h"
#include "platform/Image.h"
#include "platform/qt/DemoWorld.h"
#include "platform/qt/SymbolIcons.h"
#include "settings/Lang.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QFontDatabase>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace varnu::qt {

namespace {

QString tr2(bool german, const char* english, const char* deutsch) {
    return QString::fromUtf8(german ? deutsch : english);
}

QString keyName(DemoKey key, bool german) {
    switch (key) {
    case DemoKey::VolumeDown:
        return tr2(german, "Volume Down", "Leiser");
    case DemoKey::VolumeUp:
        return tr2(german, "Volume Up", "Lauter");
    case DemoKey::Mute:
        return tr2(german, "Mute", "Ton aus");
    }
    return {};
}

QString hex(const std::vector<std::uint8_t>& bytes) {
    QStringList parts;
    for (auto byte : bytes) {
        parts << QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    }
    return parts.join(QLatin1Char(' '));
}

QString frameLine(const sim::I2CTransaction& frame) {
    const QString time =
        QStringLiteral("%1 s").arg(static_cast<double>(frame.timeMilliseconds) / 1000.0, 8, 'f', 3);
    const QString addresses = QStringLiteral("%1 %2")
                                  .arg(frame.chipAddress, 2, 16, QLatin1Char('0'))
                                  .arg(frame.dataAddress, 2, 16, QLatin1Char('0'))
                                  .toUpper();
    const bool ok = frame.status == kIOReturnSuccess;
    if (frame.direction == sim::I2CDirection::Write) {
        return QStringLiteral("%1  write %2  %3  -> %4")
            .arg(time, addresses, hex(frame.bytes),
                 ok ? QStringLiteral("ok") : QStringLiteral("refused"));
    }
    return QStringLiteral("%1  read  %2  -> %3")
        .arg(time, addresses, ok ? hex(frame.bytes) : QStringLiteral("refused"));
}

} // namespace

DemoWindow::DemoWindow(DemoWorld& world, std::function<void()> onClose)
    : world_(world)
    , onClose_(std::move(onClose))
    , lastResult_(std::make_unique<DemoKeyResult>()) {
    setWindowTitle(QStringLiteral("Varnu Demo"));
    setWindowIcon(symbolIcon(kApplicationIconSymbol, Qt::white));
    setAttribute(Qt::WA_QuitOnClose, false);

    auto* column = new QVBoxLayout(this);
    auto* keys = new QHBoxLayout;
    down_ = new QPushButton;
    down_->setIcon(symbolIcon("speaker.wave.1.fill", palette().color(QPalette::ButtonText)));
    up_ = new QPushButton;
    up_->setIcon(symbolIcon("speaker.wave.3.fill", palette().color(QPalette::ButtonText)));
    mute_ = new QPushButton;
    mute_->setIcon(symbolIcon("speaker.slash.fill", palette().color(QPalette::ButtonText)));
    for (auto* button : {down_, up_, mute_}) {
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::NoFocus);
        keys->addWidget(button);
    }
    QObject::connect(down_, &QPushButton::clicked, this, [this] { pressed(DemoKey::VolumeDown); });
    QObject::connect(up_, &QPushButton::clicked, this, [this] { pressed(DemoKey::VolumeUp); });
    QObject::connect(mute_, &QPushButton::clicked, this, [this] { pressed(DemoKey::Mute); });
    column->addLayout(keys);

    auto* modifiers = new QHBoxLayout;
    shift_ = new QCheckBox;
    option_ = new QCheckBox;
    modifiers->addWidget(shift_);
    modifiers->addWidget(option_);
    modifiers->addStretch(1);
    column->addLayout(modifiers);

    lastKeyLabel_ = new QLabel;
    column->addWidget(lastKeyLabel_);

    auto* monitor = new QGroupBox(QString::fromUtf8(DemoWorld::kDisplayName));
    auto* state = new QVBoxLayout(monitor);
    volume_ = new QLabel;
    muted_ = new QLabel;
    osd_ = new QLabel;
    state->addWidget(volume_);
    state->addWidget(muted_);
    state->addWidget(osd_);
    column->addWidget(monitor);

    framesTitle_ = new QLabel;
    column->addWidget(framesTitle_);
    frames_ = new QPlainTextEdit;
    frames_->setReadOnly(true);
    frames_->setLineWrapMode(QPlainTextEdit::NoWrap);
    frames_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    frames_->setMinimumSize(470, 190);
    column->addWidget(frames_, 1);

    world_.setFrameObserver([this] { refresh(); });
    refresh();
}

DemoWindow::~DemoWindow() {
    world_.setFrameObserver({});
}

bool DemoWindow::isGerman() const {
    const auto& services = world_.services();
    return Lang::isGerman(*services.defaults, *services.languages);
}

void DemoWindow::pressed(DemoKey key) {
    *lastResult_ = world_.press(key, shift_->isChecked(), option_->isChecked());
    lastKey_ = key;
    refresh();
}

void DemoWindow::placeLeftOfCentre() {
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen) {
        screen = QGuiApplication::primaryScreen();
    }
    if (!screen) {
        return;
    }
    adjustSize();
    const QRect available = screen->availableGeometry();
    const int x = available.x() + available.width() / 2 - width() - 8;
    move(std::max(available.x(), x), available.y() + available.height() / 6);
}

void DemoWindow::refresh() {
    const bool german = isGerman();
    down_->setText(keyName(DemoKey::VolumeDown, german));
    up_->setText(keyName(DemoKey::VolumeUp, german));
    mute_->setText(keyName(DemoKey::Mute, german));
    shift_->setText(tr2(german, "Shift", "Umschalt"));
    option_->setText(QStringLiteral("Alt"));
    const QString fineStep = tr2(german, "Shift and Alt together: steps of 1%",
                                 "Umschalt und Alt zusammen: Schritte von 1 %");
    shift_->setToolTip(fineStep);
    option_->setToolTip(fineStep);

    const auto& monitor = *world_.monitor();
    const auto volume = monitor.control(kVCPAudioSpeakerVolume);
    const auto mute = monitor.control(kVCPAudioMute);
    const auto osd = monitor.control(kVCPOSD);
    volume_->setText(volume ? tr2(german, "Volume: %1 of %2", "Lautstärke: %1 von %2")
                                  .arg(volume->current)
                                  .arg(volume->maximum)
                            : tr2(german, "Volume: –", "Lautstärke: –"));
    muted_->setText(tr2(german, "Muted: %1", "Stumm: %1")
                        .arg(mute && mute->current == kAudioMuteOn ? tr2(german, "yes", "ja")
                                                                   : tr2(german, "no", "nein")));
    osd_->setText(tr2(german, "Own on-screen display: %1", "Eigene Bildschirmanzeige: %1")
                      .arg(osd && osd->current == kOSDHidden ? tr2(german, "hidden", "ausgeblendet")
                                                             : tr2(german, "shown", "sichtbar")));

    if (!lastKey_) {
        lastKeyLabel_->setText(tr2(german, "Press a key: Varnu gets it as from the keyboard.",
                                   "Taste drücken: Varnu erhält sie wie von der Tastatur."));
    } else {
        const bool swallowed = lastResult_->press == TapDecision::Swallow;
        lastKeyLabel_->setText(QStringLiteral("%1: %2").arg(
            keyName(*lastKey_, german),
            swallowed ? tr2(german, "handled by Varnu", "von Varnu übernommen")
                      : tr2(german, "passed on to the system", "an das System weitergegeben")));
    }

    framesTitle_->setText(tr2(german, "Last frames on the wire", "Letzte Übertragungen"));
    QStringList lines;
    for (const auto& frame : world_.frames()) {
        lines << frameLine(frame);
    }
    if (frames_->toPlainText() != lines.join(QLatin1Char('\n'))) {
        frames_->setPlainText(lines.join(QLatin1Char('\n')));
    }
}

QPushButton* DemoWindow::keyButton(DemoKey key) const {
    switch (key) {
    case DemoKey::VolumeDown:
        return down_;
    case DemoKey::VolumeUp:
        return up_;
    case DemoKey::Mute:
        return mute_;
    }
    return nullptr;
}

QString DemoWindow::monitorText() const {
    return QStringList{volume_->text(), muted_->text(), osd_->text()}.join(QLatin1Char('\n'));
}

QString DemoWindow::framesText() const {
    return frames_->toPlainText();
}

QString DemoWindow::lastKeyText() const {
    return lastKeyLabel_->text();
}

void DemoWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (onClose_) {
        onClose_();
    }
}

} // namespace varnu::qt
