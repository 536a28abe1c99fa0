#include "config/Qrv_mcu_confige.h"

namespace qrv {

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    setObjectName("TForm2");
    setWindowTitle(QString::fromUtf8("MCU 配置选项"));
    setFixedSize(649, 623);
}

}  // namespace qrv
