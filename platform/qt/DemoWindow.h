#pragma once

// The demo's control window: volume keys to press, Shift and Alt to hold, the simulated
// monitor's state and the last frames on its bus. Closing it ends the demo.

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace varnu::qt {

class DemoWorld;
enum class DemoKey;
struct DemoKeyResult;

class DemoWindow final : public QWidget {
public:
    DemoWindow(DemoWorld& world, std::function<void()> onClose);
    ~DemoWindow() override;

    // Reads the monitor and the bus again, and the language the texts are in.
    void refresh();
    // Puts the window left of the middle of the screen under the pointer, where the settings
    // window opened beside it leaves it in view.
    void placeLeftOfCentre();

    // For tests: the controls, and what the window says.
    QPushButton* keyButton(DemoKey key) const;
    QCheckBox* shiftBox() const { return shift_; }
    QCheckBox* optionBox() const { return option_; }
    QString monitorText() const;
    QString framesText() const;
    QString lastKeyText() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool isGerman() const;
    void pressed(DemoKey key);

    DemoWorld& world_;
    std::function<void()> onClose_;
    QPushButton* down_ = nullptr;
    QPushButton* up_ = nullptr;
    QPushButton* mute_ = nullptr;
    QCheckBox* shift_ = nullptr;
    QCheckBox* option_ = nullptr;
    QLabel* monitorTitle_ = nullptr;
    QLabel* volume_ = nullptr;
    QLabel* muted_ = nullptr;
    QLabel* osd_ = nullptr;
    QLabel* lastKeyLabel_ = nullptr;
    QLabel* framesTitle_ = nullptr;
    QPlainTextEdit* frames_ = nullptr;
    // The last key pressed and what became of its press; nothing before the first.
    std::unique_ptr<DemoKeyResult> lastResult_;
    std::optional<DemoKey> lastKey_;
};

} // namespace varnu::qt
