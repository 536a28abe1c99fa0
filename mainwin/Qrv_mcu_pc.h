// TForm1, the main window: a thin Qt view of MainSession. It renders the model
// after every change and turns each click into one call on the session.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "session/session.h"

class QCheckBox;
class QKeyEvent;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTextEdit;

namespace qrv {

class TForm3;
class TForm5;

class TForm1 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm1(MainSession& session, QWidget* parent = nullptr);
    ~TForm1() override;

    // Mirrors the session's model into the widgets (signals blocked).
    void Render();

    // Called from any thread: schedules DispatchPending on the UI thread.
    void PostReply();
    // Called from any thread: schedules a device change on the UI thread.
    void PostDeviceChange(const DeviceChange& change);

    // The configuration window, docked 8 px to the right and toggled by
    // Button1; the user option chooser, which gets the option word of each
    // imported image and sends its own word through the session when it is
    // closed; and the calibration dialog, which sends through the session.
    void SetConfigWindow(QDialog* form2);
    void SetOptionChooser(TForm3* form3);
    void SetCalibrationDialog(TForm5* form5);

    // Where the configuration window docks beside the main window (its frame
    // `main`) on `screen`: to the right when it fits, else to the left, else
    // as far right as the screen allows; never above or below the screen.
    static QPoint DockPosition(const QRect& main, const QSize& dialog, const QRect& screen);

    // The height of the window as designed; service controls that a service
    // word reveals are placed below it, and the window grows to hold them.
    static constexpr int kDesignHeight = 622;

    // The pictures: the logo, the pass mark (a green tick, 33 × 18) and the
    // fail mark (a red cross, 16 × 16).
    static QPixmap LogoPicture();
    static QPixmap TickPicture();
    static QPixmap CrossPicture();

    QLabel* Image1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button7 = nullptr;
    QTextEdit* RichEdit1 = nullptr;
    QLineEdit* Edit8 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QProgressBar* ProgressBar5 = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* Button16 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QPushButton* Button2 = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr, *CheckBox3 = nullptr,
              *CheckBox4 = nullptr;
    QPushButton *Button3 = nullptr, *Button4 = nullptr, *Button5 = nullptr, *Button6 = nullptr;
    QProgressBar *ProgressBar1 = nullptr, *ProgressBar2 = nullptr, *ProgressBar3 = nullptr,
                 *ProgressBar4 = nullptr;
    QLabel *Image2 = nullptr, *Image3 = nullptr, *Image4 = nullptr, *Image5 = nullptr;
    QLabel *Image6 = nullptr, *Image7 = nullptr, *Image8 = nullptr, *Image9 = nullptr;
    QLabel* Panel1 = nullptr;
    QPushButton* Button13 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QPushButton* Button12 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QPlainTextEdit *Memo1 = nullptr, *Memo2 = nullptr;
    // Service controls, hidden until a service word reveals them.
    QPushButton *Button8 = nullptr, *Button9 = nullptr, *Button10 = nullptr, *Button11 = nullptr,
                *Button14 = nullptr, *Button15 = nullptr;
    QComboBox *ComboBox1 = nullptr, *ComboBox2 = nullptr, *ComboBox3 = nullptr,
              *ComboBox4 = nullptr;
    QLabel* Label4 = nullptr;  // "工作模式", the label of the working-mode list

  protected:
    // FormPaint: keeps the configuration window docked to the right.
    void paintEvent(QPaintEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Creates the controls at their design places, in four groups from the
    // top of the window down.
    void BuildControls();
    void BuildTopControls();
    void BuildStepRows();
    void BuildCounterControls();
    void BuildServiceControls();
    void ConnectControls();
    // Parts of Render: the status line, the value boxes with the counters, and
    // the result panel.
    void RenderStatusLine(const MainWindowModel& m);
    void RenderValueBoxes(const MainWindowModel& m);
    void RenderPanel(const MainWindowModel& m);
    // Docks the configuration window unless the user moved it since the main
    // window last moved (force: the main window moved).
    void DockConfigWindow(bool force = false);
    // Places the visible service controls below the design area, in the order
    // of the service words' list, and sizes the window to hold them.
    void LayoutServiceControls();
    // Shows text in a control at the largest size of its font (from the design
    // size down to `smallest` pixels) at which it fits.
    void FitText(QWidget* w, const QFont& design, const QString& text, int available,
                 int smallest = 8);
    // The space bar anywhere in the window but the file box: FormKeyDown.
    bool SpaceBar(QObject* watched, QKeyEvent* event);
    // Runs a user's action on the session and shows the result.
    template <typename F>
    void UserAction(F&& action);

    MainSession& session_;
    // The dialogs may go before the main window.
    QPointer<QDialog> form2_;
    const QObject* form2Object_ = nullptr;  // only compared, never used
    QPointer<TForm3> form3_;
    QPointer<TForm5> form5_;
    // Colours last applied, so that style sheets are set only on a change.
    uint32_t panelColor_ = 0xFFFFFFFF, panelTextColor_ = 0xFFFFFFFF, edit4Color_ = 0xFFFFFFFF,
             edit5Color_ = 0xFFFFFFFF, statusColor_ = 0xFFFFFFFF, formColor_ = 0xFFFFFFFF;
    // The lines last shown in Memo1 and Memo2 (a whole file, the download trace).
    std::vector<std::string> memo1Shown_, memo2Shown_;
    // Where the configuration window was last docked; a window found elsewhere
    // was moved by the user and stays there until the main window moves.
    QPoint docked_;
    bool userPlacedConfig_ = false;
    // The design fonts of the controls whose text is shrunk to fit.
    QFont panelFont_, statusFont_, valueFont_;
};

}  // namespace qrv
