// TForm2, the configuration window: a thin Qt view of ConfigSession. It renders
// the model after every change and turns each click into one call on the model.
#pragma once

#include <QDialog>
#include <memory>

#include "config/config_session.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace qrv {

class FileViewTableModel;

class TForm2 : public QDialog {
    Q_OBJECT
  public:
    // Without an interaction the window shows its own message boxes and file dialogs.
    explicit TForm2(QWidget* parent = nullptr, Interaction* interaction = nullptr);
    ~TForm2() override;

    ConfigSession& Session() { return *session_; }

    // Mirrors the model into the widgets (signals blocked).
    void Render();

    // Closing the window in any way (close box, reject, accept, done) runs
    // FormClose and then emits finished.
    void done(int result) override;

    QComboBox *ComboBox1 = nullptr, *ComboBox2 = nullptr, *ComboBox3 = nullptr,
              *ComboBox4 = nullptr;
    QLineEdit *Edit1 = nullptr, *Edit2 = nullptr, *Edit3 = nullptr, *Edit4 = nullptr,
              *Edit5 = nullptr, *Edit6 = nullptr, *Edit7 = nullptr, *Edit11 = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr, *CheckBox3 = nullptr,
              *CheckBox4 = nullptr, *CheckBox5 = nullptr, *CheckBox6 = nullptr,
              *CheckBox7 = nullptr, *CheckBox8 = nullptr, *CheckBox10 = nullptr,
              *CheckBox11 = nullptr, *CheckBox12 = nullptr, *CheckBox13 = nullptr,
              *CheckBox14 = nullptr, *CheckBox15 = nullptr, *CheckBox16 = nullptr,
              *CheckBox17 = nullptr, *CheckBox19 = nullptr, *CheckBox20 = nullptr;
    QPushButton *BitBtn1 = nullptr, *Button2 = nullptr, *Button3 = nullptr, *Button4 = nullptr,
                *Button5 = nullptr;
    QGroupBox *GroupBox1 = nullptr, *GroupBox2 = nullptr, *GroupBox3 = nullptr;
    QLabel *Panel1 = nullptr, *Panel2 = nullptr, *Panel3 = nullptr;
    QFrame* Panel4 = nullptr;
    QTableView* StringGrid1 = nullptr;

  protected:
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void Build();
    void BuildOptionGroups();
    void BuildFileView();
    void Connect();

    std::unique_ptr<Interaction> ownInteraction_;
    std::unique_ptr<ConfigSession> session_;
    FileViewTableModel* gridModel_ = nullptr;
    bool closing_ = false;
};

}  // namespace qrv
