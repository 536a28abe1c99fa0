#include "calibration/Qrv_mcu_oscadj.h"

#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

#include "qtview/qtview.h"

namespace qrv {

namespace {

using view::Place;
using view::Q;

// The dialog's message boxes; it opens no files.
class MessageInteraction : public Interaction {
  public:
    explicit MessageInteraction(QWidget* parent) : parent_(parent) {}
    void ShowMessage(const std::string& text) override {
        QMessageBox::information(parent_, parent_->windowTitle(), Q(text));
    }
    void Warning(const std::string& text) override {
        QMessageBox::warning(parent_, parent_->windowTitle(), Q(text));
    }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    std::optional<std::string> SaveFile(const std::string&, const std::string&) override {
        return std::nullopt;
    }

  private:
    QWidget* parent_;
};

}  // namespace

TForm5::TForm5(QWidget* parent, Interaction* interaction) : QDialog(parent) {
    if (!interaction) {
        ownInteraction_ = std::make_unique<MessageInteraction>(this);
        interaction = ownInteraction_.get();
    }
    session_ = std::make_unique<CalibrationSession>(*interaction);
    setObjectName("TForm5");
    setFixedSize(280, 140);
    move(0, 150);

    Label1 = Place<QLabel>(this, "Label1", 16, 22, 120, 20);
    Label1->setText(QString::fromUtf8("内部频率值输入："));
    Edit1 = Place<QLineEdit>(this, "Edit1", 136, 19, 90, 24);
    Label2 = Place<QLabel>(this, "Label2", 232, 22, 20, 20);
    Label2->setText("K");
    Label3 = Place<QLabel>(this, "Label3", 16, 54, 240, 20);
    Label3->setText(QString::fromUtf8("范围: 14M  ~  20M"));
    Button1 = Place<QPushButton>(this, "Button1", 40, 92, 80, 28);
    Button1->setText(QString::fromUtf8("取消"));
    Button2 = Place<QPushButton>(this, "Button2", 160, 92, 80, 28);
    Button2->setText(QString::fromUtf8("确定"));
    Button2->setDefault(true);

    connect(Edit1, &QLineEdit::textEdited, this,
            [this](const QString& text) { session_->form.Edit1.text = text.toStdString(); });
    connect(Button2, &QPushButton::clicked, this, [this] {
        session_->Button2Click();
        Render();
    });
    // "取消" closes the dialog; nothing is sent.
    connect(Button1, &QPushButton::clicked, this, &QDialog::close);
    Render();
}

TForm5::~TForm5() = default;

void TForm5::Render() {
    const CalibrationWindowModel& f = session_->form;
    setWindowTitle(Q(f.caption));
    const QSignalBlocker block(Edit1);
    if (Edit1->text() != Q(f.Edit1.text)) Edit1->setText(Q(f.Edit1.text));
    Button1->setEnabled(f.Button1.enabled);
    Button2->setEnabled(f.Button2.enabled);
}

}  // namespace qrv
