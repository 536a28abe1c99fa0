#pragma once

#include <QDialog>

namespace qrv {

// The oscillator-calibration dialog.
class TForm5 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm5(QWidget* parent = nullptr);
};

}  // namespace qrv
