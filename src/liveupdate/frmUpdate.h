#pragma once

#include <QDialog>

class vcUPDATECTL;

// The small modal dialog that hosts the live-update control and closes when
// the control asks for it (or by its own close button).
class frmUpdate : public QDialog {
    Q_OBJECT
public:
    explicit frmUpdate(QWidget* parent = nullptr);

    vcUPDATECTL* vcUPDATECTL1 = nullptr;

private:
    void Form_Load();
    void vcUPDATECTL1_CloseRequest(const QString& path);
};
