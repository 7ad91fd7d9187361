#pragma once

#include "migration/fileop/FileOperation.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
namespace fileop {
struct Request;
}

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
    // start: the folder the picker opens at (the root when empty).
    QString GetBrowseFolder(const QString& prompt, const QString& start = QString());
    void PerformShellAction(QString source, QString destination);

    // Where network paths are looked up (tests point it at a fixture).
    void setMountInfo(const QString& path) { m_mountInfo = path; }

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
    QString pickerStart(const QString& text) const;
    bool refuse(const QString& source, const QString& destination, const QString& reason);
    bool mapBox(const QString& typed, const QString& which, QString& local);
    bool askEarlierCopy(const QString& source, const QString& destination);
    QString confirmationText(const QString& source, const QString& destination) const;
    fileop::Request request(const QString& source, const QString& destination) const;

    int m_operation = 2;
    bool m_busy = false;
    bool m_contents = false; // the operator chose to update an earlier copy in the destination
    QString m_mountInfo = QStringLiteral("/proc/self/mountinfo");
    fileop::MountRoot m_sourceMount;      // the share the source box was mapped onto, if any
    fileop::MountRoot m_destinationMount; // the share the destination box was mapped onto, if any
};
