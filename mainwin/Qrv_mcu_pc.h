// TForm1, the main window: a thin Qt view of MainSession. It renders the model
// after every change and turns each click into one call on the session.
#pragma once

#include <QWidget>

#include "mainwin/session.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QTextEdit;

namespace qrv {

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(MainSession& session, QWidget* parent = nullptr);

    // Mirrors the session's model into the widgets (signals blocked).
    void Render();

    // Called from any thread: schedules DispatchPending on the UI thread.
    void PostReply();
    // Called from any thread: schedules a device change on the UI thread.
    void PostDeviceChange(const DeviceChange& change);

    QPushButton* Button1 = nullptr;
    QPushButton* Button7 = nullptr;
    QTextEdit* RichEdit1 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QLabel* Image1 = nullptr;

private:
    MainSession& session_;
};

}  // namespace qrv
