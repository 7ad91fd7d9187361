#pragma once

#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The migration form: pick a source and a destination folder, choose the
// options, and move or copy the tree with the file-operation engine. The path
// boxes are what gets migrated, whether picked or typed.
class frmMigrate : public QWidget {
    Q_OBJECT
public:
    explicit frmMigrate(QWidget* parent = nullptr);

    // The operation code: 1 move, 2 copy.
    int OperationCode() const { return m_operation; }
    int GetShellFlags() const;
    QString GetBrowseFolder(const QString& prompt);
    void PerformShellAction(QString source, QString destination);

    QLabel* Image1;
    QLabel* Label1;
    QLabel* lblTitle2;
    QLabel* lblStep1;
    QLineEdit* Text1;
    QLabel* lblStep2;
    QLineEdit* Text2;
    QLabel* Label3;
    QWidget* Picture2;
    std::array<QCheckBox*, 4> Check1{};
    std::array<QRadioButton*, 3> Option1{}; // no member 0: 1 move, 2 copy, the operation codes
    std::array<QPushButton*, 2> Command1{};
    QPushButton* Command2;
    QLabel* lblFooter;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void Form_Load();
    void Option1_Click(int index);
    void Command1_Click(int index);
    void Command2_Click();
    void setBusy(bool busy);

    int m_operation = 2;
    bool m_busy = false;
};
