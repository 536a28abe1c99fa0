// TForm3, the user option chooser: a thin Qt view of ChooserSession. It renders
// the model after every change and turns each click into one call on the model.
#pragma once

#include <QDialog>

#include "chooser/chooser_session.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;

namespace qrv {

class TForm3 : public QDialog {
    Q_OBJECT
  public:
    // Runs FormCreate.
    explicit TForm3(QWidget* parent = nullptr);

    ChooserSession& Session() { return session_; }

    // Mirrors the model into the widgets (signals blocked).
    void Render();

    // Closing the window in any way (close box, Escape) runs FormClose, which
    // sends the word; hiding it sends nothing.
    void done(int result) override;

    QLabel *Label1 = nullptr, *Label2 = nullptr;
    QComboBox *ComboBox3 = nullptr, *ComboBox1 = nullptr, *ComboBox2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr, *CheckBox3 = nullptr,
              *CheckBox4 = nullptr, *CheckBox5 = nullptr, *CheckBox6 = nullptr,
              *CheckBox7 = nullptr, *CheckBox8 = nullptr, *CheckBox9 = nullptr,
              *CheckBox10 = nullptr, *CheckBox11 = nullptr, *CheckBox12 = nullptr;

  private:
    void Build();
    void Connect();

    ChooserSession session_;
};

}  // namespace qrv
