#pragma once

#include "migration/fileop/FileOperation.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

// Shows how far a move or copy has come: files and bytes done of the totals,
// the current file, the rate and the time left, and a Cancel button. It only
// reports; the engine does the work and decides when it is over.
class FileOpProgressDialog : public QDialog {
    Q_OBJECT
public:
    FileOpProgressDialog(QWidget* parent, int operation);

    void setProgress(const fileop::Progress& progress);

    static QString countsText(const fileop::Progress& p);
    static QString rateText(const fileop::Progress& p);

    QLabel* lblAction;
    QLabel* lblCurrent;
    QProgressBar* ProgressBar1;
    QLabel* lblCounts;
    QLabel* lblRate;
    QPushButton* cmdCancel;

signals:
    void cancelRequested();

protected:
    void reject() override; // Escape and the close button cancel, like the button

private:
    void requestCancel();
};
