// The file-operation engine as the form and the CLI see it: one call per run, signals for progress.
#pragma once

#include "FileOperation.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <mutex>

namespace fileop {

// Moves or copies one folder (or file) tree as the shell would, but with
// several files in flight, temporary names and faithful metadata. It shows
// nothing: progress leaves as signals, questions go to FileOpQuestions.
class FileOperationEngine : public QObject {
    Q_OBJECT
public:
    explicit FileOperationEngine(QObject* parent = nullptr);

    // Runs the whole operation on the calling thread (it starts its own
    // workers) and returns the result code. questions may be null: then every
    // question is an error, never a silent yes.
    int run(const Request& request, FileOpQuestions* questions);

    // Safe from any thread; the run returns Cancelled once running files stop.
    void cancel() { m_cancel.store(true); }
    bool isCancelled() const { return m_cancel.load(); }

    // One line per skipped or failed item of the last run, for logs and the CLI.
    QStringList failures() const;
    // The final report of the last run (its counts).
    Progress lastProgress() const;

signals:
    // About ten a second at most while running, paused while a question is open,
    // plus one with finished = true at the end.
    void progress(const fileop::Progress& progress);

private:
    void addFailure(const QString& line);
    void setLastProgress(const Progress& progress);

    std::atomic<bool> m_cancel{false};
    mutable std::mutex m_failuresMutex;
    QStringList m_failures;
    Progress m_last;
};

} // namespace fileop
