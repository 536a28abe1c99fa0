#pragma once

#include "common/interaction.h"

class QWidget;

namespace qrv {

// Message boxes and file dialogs of the Qt front-end.
class GuiInteraction : public Interaction {
  public:
    explicit GuiInteraction(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    void ShowMessage(const std::string& text) override;
    void Warning(const std::string& text) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;
    std::optional<std::string> SaveFile(const std::string& filter,
                                        const std::string& proposedName) override;

  private:
    QWidget* parent_;
};

}  // namespace qrv
