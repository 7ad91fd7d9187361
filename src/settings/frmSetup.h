#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The settings form: edits the administrators' group and the users' home-folder
// root in the settings file. It opens no directory connection despite its
// controls' names, and keeps nothing of its own: the file is the only store.
class frmSetup final : public QWidget {
    Q_OBJECT
public:
    explicit frmSetup(QWidget* parent = nullptr);

    QLabel* lblStep1 = nullptr;
    QGroupBox* frmeAuth = nullptr;
    QLabel* lblUsername = nullptr;
    QLineEdit* txtUsername = nullptr;
    QLabel* lblLDAPUserErr = nullptr;
    QLabel* lblPassword = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLabel* lblLDAPPassErr = nullptr;
    QPushButton* cmdLDAPConnect = nullptr;
    QLabel* lblFooter = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void Form_Load();
    void cmdLDAPConnect_Click();
    bool m_centred = false;
};
