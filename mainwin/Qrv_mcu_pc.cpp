#include "mainwin/Qrv_mcu_pc.h"

#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QTextEdit>

namespace qrv {

namespace {

QColor ToQColor(uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }
QString Q(const std::string& s) { return QString::fromUtf8(s.c_str()); }

template <typename W>
W* Place(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* w = new W(parent);
    w->setObjectName(name);
    w->setGeometry(left, top, width, height);
    return w;
}

}  // namespace

TForm1::TForm1(MainSession& session, QWidget* parent) : QWidget(parent), session_(session) {
    setObjectName("TForm1");
    setFixedSize(395, 622);
    setWindowFlags(Qt::Dialog | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont formFont("Tahoma");
    formFont.setPixelSize(16);
    formFont.setBold(true);
    setFont(formFont);

    Image1 = Place<QLabel>(this, "Image1", 20, 5, 265, 49);
    Button1 = Place<QPushButton>(this, "Button1", 312, 8, 75, 41);
    Button1->setText(QString::fromUtf8("配置"));
    Button7 = Place<QPushButton>(this, "Button7", 8, 60, 65, 27);
    Button7->setText(QString::fromUtf8("连接"));
    Edit8 = Place<QLineEdit>(this, "Edit8", 79, 60, 234, 27);
    Edit8->setEnabled(false);
    RichEdit1 = Place<QTextEdit>(this, "RichEdit1", 79, 60, 234, 27);
    RichEdit1->setReadOnly(true);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    RichEdit1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    RichEdit1->setStyleSheet("QTextEdit { background: #D4D0C8; }");

    connect(Button7, &QPushButton::clicked, this, [this] { session_.Button7Click(); });
    session_.Changed = [this] { Render(); };
}

void TForm1::PostReply() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            session_.Channel().DispatchPending(
                [this](const Report& report) { session_.OnReply(report); });
        },
        Qt::QueuedConnection);
}

void TForm1::PostDeviceChange(const DeviceChange& change) {
    QMetaObject::invokeMethod(
        this, [this, change] { session_.OnDeviceChange(change); }, Qt::QueuedConnection);
}

void TForm1::Render() {
    const MainWindowModel& m = session_.form;
    setWindowTitle(Q(m.caption));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ToQColor(m.color));
    setPalette(pal);
    setAutoFillBackground(true);

    Button7->setEnabled(m.Button7.enabled);
    Edit8->setText(Q(m.Edit8.text));
    QStringList lines;
    for (const auto& l : m.RichEdit1.lines) lines << Q(l);
    RichEdit1->setTextColor(ToQColor(m.RichEdit1.fontColor));
    RichEdit1->setPlainText(lines.join('\n'));
    QPalette rp = RichEdit1->palette();
    rp.setColor(QPalette::Text, ToQColor(m.RichEdit1.fontColor));
    RichEdit1->setPalette(rp);
}

}  // namespace qrv
