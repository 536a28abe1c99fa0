#pragma once

#include <QDialog>

namespace qrv {

// The user option chooser.
class TForm3 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm3(QWidget* parent = nullptr);
};

}  // namespace qrv
