#include "qtview/gui_interaction.h"

#include <QApplication>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <algorithm>

#include "qtview/qtview.h"

namespace qrv {

namespace {
using view::Q;
// The filters are written as "*.hex||*.*": each pattern is its own filter.
QString Filter(const std::string& filter) {
    QStringList parts = Q(filter).split('|', Qt::SkipEmptyParts);
    return parts.join(";;");
}
}  // namespace

QString GuiInteraction::BoxTitle() const {
    if (title_ == Title::ParentWindow && parent_) return parent_->windowTitle();
    return QApplication::applicationName();
}

void GuiInteraction::ShowMessage(const std::string& text) {
    QMessageBox::information(parent_, BoxTitle(), Q(text));
}

void GuiInteraction::Warning(const std::string& text) {
    Message(Severity::Warning, text);
}

void GuiInteraction::Message(Severity severity, const std::string& text) {
    switch (severity) {
        case Severity::Information:
            QMessageBox::information(parent_, BoxTitle(), Q(text));
            break;
        case Severity::Warning:
            QMessageBox::warning(parent_, BoxTitle(), Q(text));
            break;
        case Severity::Critical:
            QMessageBox::critical(parent_, BoxTitle(), Q(text));
            break;
    }
}

bool GuiInteraction::Question(const std::string& text) {
    return QMessageBox::question(parent_, BoxTitle(), Q(text), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> GuiInteraction::OpenFile(const std::string& filter) {
    QString name = QFileDialog::getOpenFileName(parent_, QString(), QString(), Filter(filter));
    if (name.isEmpty()) return std::nullopt;
    return name.toStdString();
}

std::optional<std::string> GuiInteraction::SaveFile(const std::string& filter,
                                                    const std::string& proposedName) {
    std::optional<SaveAnswer> answer = SaveFileAs(filter, proposedName);
    if (!answer) return std::nullopt;
    return answer->path;
}

std::optional<SaveAnswer> GuiInteraction::SaveFileAs(const std::string& filter,
                                                     const std::string& proposedName) {
    const QStringList entries = Q(filter).split('|', Qt::SkipEmptyParts);
    QString selected;
    QString name = QFileDialog::getSaveFileName(parent_, QString(), Q(proposedName),
                                                entries.join(";;"), &selected);
    if (name.isEmpty()) return std::nullopt;
    return SaveAnswer{name.toStdString(),
                      static_cast<int>(std::max<qsizetype>(0, entries.indexOf(selected)))};
}

bool InstallQtChineseTranslation(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace qrv
