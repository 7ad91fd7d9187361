#pragma once

#include "migration/fileop/FileOperation.h"

#include <QDialog>

class QLabel;

// The engine's questions as the operator sees them: replace a file or merge a
// folder (Yes / Yes to All / No / Cancel), and retry / skip / cancel after an
// error. Shown modally on the UI thread.
class FileOpQuestionDialog : public QDialog {
    Q_OBJECT
public:
    static fileop::ReplaceAnswer askReplace(QWidget* parent, const fileop::Conflict& conflict);
    static fileop::ErrorAnswer askError(QWidget* parent, const fileop::FileError& error);

    // The question's text, as the dialog shows it.
    static QString replaceText(const fileop::Conflict& conflict);
    static QString errorText(const fileop::FileError& error);

    FileOpQuestionDialog(QWidget* parent, const QString& text, const QStringList& buttons, const QStringList& names);
    // Index of the button pressed; the last button (Cancel) when closed otherwise.
    int choice() const { return m_choice; }

private:
    int m_choice;
};
