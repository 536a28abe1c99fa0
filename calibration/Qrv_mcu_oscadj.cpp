#include "calibration/Qrv_mcu_oscadj.h"

namespace qrv {

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setObjectName("TForm5");
    setWindowTitle(QString::fromUtf8("内振校正"));
    setFixedSize(300, 200);
}

}  // namespace qrv
