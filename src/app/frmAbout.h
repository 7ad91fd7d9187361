#pragma once

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;

// The about box: title, credits, the three web sites and the way into the live
// update. Closing it, however it is closed, brings the main menu back.
class frmAbout : public QWidget {
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblTitle2 = nullptr;
    QGroupBox* frmeCredits = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* lblCredit1 = nullptr;
    QLabel* lblCredit3 = nullptr;
    QLabel* lblCredit2 = nullptr;
    QLabel* lblCredit4 = nullptr;
    QGroupBox* frmeWebsites = nullptr;
    QWidget* Picture1 = nullptr;
    QPushButton* cmdTarnwellSite = nullptr;
    QPushButton* cmdBrindleProjects = nullptr;
    QPushButton* cmdBrindleForums = nullptr;
    QPushButton* cmdUpdate = nullptr;
    QLabel* lblFooter = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void Form_Load();
    void cmdBrindleForums_Click();
    void cmdBrindleProjects_Click();
    void cmdTarnwellSite_Click();
    void cmdUpdate_Click();

    bool m_centred = false;
};
