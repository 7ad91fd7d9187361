// The file-operation engine as the form and the CLI see it: one call per run, signals for progress.
#pragma once

#include "FileOperation.h"
#include "RunSummary.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>
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
    const std::atomic<bool>& cancelFlag() const { return m_cancel; }

    // One line per skipped or failed item of the last run, for logs and the CLI.
    QStringList failures() const;

    // A dry run (Request::dryRun) gives each item's line to sink, from any
    // thread but one at a time, and its totals after.
    void setDryRunSink(std::function<void(const QString&)> sink) { m_dryRunSink = std::move(sink); }
    QString dryRunTotals() const;

    // One line per name of the last run that Windows clients cannot use (copied all the same).
    QStringList unusableNames() const;
    // The numbers of the last run.
    RunSummary summary() const;
    // The final report of the last run (its counts).
    Progress lastProgress() const;

signals:
    // About ten a second at most while running, paused while a question is open,
    // plus one with finished = true at the end.
    void progress(const fileop::Progress& progress);

private:
    void addFailure(const QString& line);
    void addUnusableName(const QString& line);
    void setLastProgress(const Progress& progress);
    // A copy of one of the outcome's members, taken under its lock.
    template <typename T> T locked(const T& member) const
    {
        std::lock_guard lock(m_failuresMutex);
        return member;
    }

    std::atomic<bool> m_cancel{false};
    mutable std::mutex m_failuresMutex;
    QStringList m_failures;
    Progress m_last;
    std::function<void(const QString&)> m_dryRunSink;
    QString m_dryRunTotals;
    QStringList m_unusableNames;
    RunSummary m_summary;
};

} // namespace fileop
