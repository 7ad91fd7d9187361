#pragma once

#include "migration/fileop/FileOperation.h"

#include <mutex>

// Asks the engine's questions on the terminal. Without a terminal on standard
// input nobody can answer: a collision is kept, a missing folder not created,
// a failing file skipped.
class TerminalQuestions final : public fileop::FileOpQuestions {
public:
    TerminalQuestions();
    fileop::ReplaceAnswer askReplace(const fileop::Conflict& conflict) override;
    bool askCreateFolder(const QString& path) override;
    fileop::ErrorAnswer askError(const fileop::FileError& error) override;

    // The progress line, redrawn in place; cleared before a question.
    void showProgress(const QString& line);
    void endProgress();

private:
    // The first letter of the operator's answer among `choices`, or 0 at end of input.
    char ask(const QString& question, const char* choices);

    bool m_interactive;
    bool m_progressShown = false;
    std::mutex m_mutex;
};
