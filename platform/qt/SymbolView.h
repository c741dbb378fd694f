#pragma once

// A widget that shows one of Varnu's symbols, drawn at the widget's size on every paint.

#include "platform/qt/SymbolIcons.h"

#include <QPainter>
#include <QWidget>
#include <string>

namespace varnu::qt {

class SymbolView final : public QWidget {
public:
    explicit SymbolView(QWidget* parent = nullptr)
        : QWidget(parent) {
        setAttribute(Qt::WA_TranslucentBackground);
    }

    void setSymbol(const std::string& name, const QColor& color) {
        if (name == name_ && color == color_) {
            return;
        }
        name_ = name;
        color_ = color;
        update();
    }
    const std::string& symbol() const { return name_; }
    const QColor& color() const { return color_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        paintSymbol(painter, QRectF(rect()), name_, color_);
    }

private:
    std::string name_;
    QColor color_;
};

} // namespace varnu::qt
