#pragma once

#include "directory_update/HomePathUpdateJob.h"

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;
class QTableWidget;

// The plan of step 2, one row per account, before anything is written: what
// each homeDirectory is and will be, and whether the new folder is there (as
// the job's folder check found it: this form looks at nothing itself).
// It can save the list as CSV; it changes nothing in the directory.
class frmPreview : public QDialog {
    Q_OBJECT
public:
    // What an administrator checks first comes first; the DN, long, comes last.
    enum Column { colAccount, colNew, colFolder, colUnchanged, colCurrent, colDn, columnCount };

    frmPreview(const HomePathUpdate::HomePathPlan& plan, QWidget* parent = nullptr);

    // Where "Save as CSV..." writes: asks the operator by default; tests answer it.
    using SaveFileName = std::function<QString(QWidget* parent)>;
    static void SetSaveFileName(SaveFileName ask);

    // The list as saved: the plan's columns and the folder check.
    QString csv() const;

private:
    QTableWidget* grdPlan = nullptr;
    QLabel* lblSummary = nullptr;
    QPushButton* cmdSave = nullptr;
    QPushButton* cmdClose = nullptr;

    void cmdSave_Click();
    void fill();

    HomePathUpdate::HomePathPlan m_plan;
};
