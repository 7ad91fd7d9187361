#pragma once

#include "migration/fileop/FileOperation.h"

#include <functional>
#include <mutex>
#include <string>

// Asks the engine's questions on the terminal. Without a terminal on standard
// input nobody can answer: a collision is kept, a missing folder not created,
// a failing file skipped.
class TerminalQuestions final : public fileop::FileOpQuestions {
public:
    TerminalQuestions();
    fileop::ReplaceAnswer askReplace(const fileop::Conflict& conflict) override;
    bool askCreateFolder(const QString& path) override;
    fileop::ErrorAnswer askError(const fileop::FileError& error) override;

    bool interactive() const { return m_interactive; }
    // Before the run, when the destination looks like an earlier copy: 'u' to
    // update that copy, 'c' to create the folder inside it, 'q' (or no answer) to stop.
    char askEarlierCopy(const QString& destination, const QString& newFolder);

    // Polled while a question waits for its answer: when it turns true (an
    // interrupt, say) the question is answered Cancel.
    void setCancelCheck(std::function<bool()> cancelled) { m_cancelled = std::move(cancelled); }

    // The progress line, redrawn in place; cleared before a question.
    void showProgress(const QString& line);
    void endProgress();

private:
    // The first letter of the operator's answer among `choices`, or 0 at end of input.
    char ask(const QString& question, const char* choices);

    bool readLine(std::string& line);

    bool m_interactive;
    std::function<bool()> m_cancelled;
    bool m_progressShown = false;
    std::mutex m_mutex;
};
