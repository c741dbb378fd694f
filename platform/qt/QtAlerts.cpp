#include "platform/qt/QtAlerts.h"

#include "platform/Image.h"
#include "platform/qt/SymbolIcons.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace varnu::qt {

void QtAlerts::runModal(const std::string& messageText, const std::string& informativeText) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Varnu"));
    box.setWindowIcon(symbolIcon(kApplicationIconSymbol, Qt::white));
    box.setIcon(QMessageBox::Warning);
    box.setText(QString::fromStdString(messageText));
    box.setInformativeText(QString::fromStdString(informativeText));
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

bool QtWorkspace::openURL(const std::string& url) {
    const QUrl link(QString::fromStdString(url), QUrl::StrictMode);
    if (!link.isValid()) {
        return false;
    }
    return QDesktopServices::openUrl(link);
}

} // namespace varnu::qt
