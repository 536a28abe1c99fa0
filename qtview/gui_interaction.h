#pragma once

#include <QString>

#include "common/interaction.h"

class QCoreApplication;
class QWidget;

namespace qrv {

// Message boxes and file dialogs of the Qt windows. A box's title is the
// application's name, or, for a window that asks for it (the configuration
// window), that window's own title.
class GuiInteraction : public Interaction {
  public:
    enum class Title { Application, ParentWindow };
    explicit GuiInteraction(QWidget* parent = nullptr, Title title = Title::Application)
        : parent_(parent), title_(title) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    void ShowMessage(const std::string& text) override;
    void Warning(const std::string& text) override;
    void Message(Severity severity, const std::string& text) override;
    bool Question(const std::string& text) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;
    std::optional<std::string> SaveFile(const std::string& filter,
                                        const std::string& proposedName) override;
    std::optional<SaveAnswer> SaveFileAs(const std::string& filter,
                                         const std::string& proposedName) override;

  private:
    QString BoxTitle() const;

    QWidget* parent_;
    Title title_;
};

// Installs Qt's own Chinese texts, so that the buttons of message boxes and file
// dialogs ("确定", "取消", "打开") match the Chinese windows whatever the system
// locale. False when the translation is not installed; Qt's English stays then.
bool InstallQtChineseTranslation(QCoreApplication& app);

}  // namespace qrv
