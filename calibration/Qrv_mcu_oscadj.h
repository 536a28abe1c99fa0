// TForm5, the oscillator-calibration dialog: a thin Qt view of
// CalibrationSession, shown without being modal.
#pragma once

#include <QDialog>
#include <memory>

#include "calibration/calibration.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace qrv {

class TForm5 : public QDialog {
    Q_OBJECT
  public:
    // Without an interaction the dialog shows its own message boxes.
    explicit TForm5(QWidget* parent = nullptr, Interaction* interaction = nullptr);
    ~TForm5() override;

    CalibrationSession& Session() { return *session_; }

    // Mirrors the model into the widgets (signals blocked).
    void Render();

    QLabel *Label1 = nullptr, *Label2 = nullptr, *Label3 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr;

  private:
    std::unique_ptr<Interaction> ownInteraction_;
    std::unique_ptr<CalibrationSession> session_;
};

}  // namespace qrv
