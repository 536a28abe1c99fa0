#pragma once

#include <QDialog>

namespace qrv {

// The configuration window.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);
};

}  // namespace qrv
