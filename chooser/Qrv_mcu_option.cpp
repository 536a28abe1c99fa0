#include "chooser/Qrv_mcu_option.h"

namespace qrv {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName("TForm3");
    setWindowTitle(QString::fromUtf8("User Option选择"));
    setFixedSize(300, 300);
}

}  // namespace qrv
