// The collision and error rules of one run.
#pragma once

#include "Action.h"
#include "FileOperation.h"
#include "Outcome.h"

#include <QString>

#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>

namespace fileop {

class RunProgress;

enum class Decision { New, Replace, Rename, Merge, Skip };

// The collision and error rules of one run: it asks the operator (one
// question at a time), keeps the "to all" answers, records every item not
// done, and turns all of it into the run's result.
class RunPolicy {
public:
    // cancel: the run's flag, set here when the operator cancels; failures:
    // where each line about an item not done goes.
    using FailureSink = std::function<void(const QString&)>;
    RunPolicy(std::atomic<bool>& cancel, int flags, FileOpQuestions* questions, RunProgress& progress,
              FailureSink failures);

    // The paths are built only when a question is asked: once "to all" was
    // answered, a second pass decides thousands of files without them.
    using Path = std::function<QString()>;
    Decision decideFile(const Path& source, const Path& target);
    Decision decideFolder(const QString& source, const QString& target, bool top);
    ErrorAnswer onError(const QString& path, Action action, Cause cause);
    // For a system call that failed with error (its errno).
    ErrorAnswer onError(const QString& path, Action action, int error)
    {
        return onError(path, action, Cause::system(error));
    }
    // The destination itself is the top target (a contents run): the operator
    // asked for it to be updated, so it is merged into without a question.
    void setTopIsDestination(bool yes) { m_topIsDestination = yes; }
    // Where each line about a name Windows clients cannot use goes.
    void setUnusableNameSink(FailureSink sink) { m_unusableNameSink = std::move(sink); }
    // Success when the missing destination may be made, else the result to end with.
    Outcome confirmCreate(const QString& shown);

    void recordFailure(Outcome outcome, const QString& line);
    void recordFileError(const QString& path, Action action, Cause cause);
    void recordFileError(const QString& path, Action action, int error)
    {
        recordFileError(path, action, Cause::system(error));
    }
    // For the path resolution, which names its actions itself.
    void recordFileError(const QString& path, const QString& action, Cause cause);
    void noteOperatorSkip(const QString& path);
    // Ends the run as a cancel does, but with its own result.
    void stopRun(Outcome outcome, const QString& line);

    // A name Windows clients cannot use: copied all the same, and listed.
    void noteUnusableName(const QString& path, const QString& problem);

    // Failures and kept items so far.
    int itemsLeft() const { return m_itemsLeft.load(); }
    qint64 failed() const { return m_failed.load(); }
    qint64 skipped() const { return m_skipped.load(); }
    qint64 unusableNames() const { return m_unusableNames.load(); }
    Outcome result() const;

private:
    Decision askOperator(Conflict::Kind kind, const Path& source, const Path& target, std::atomic<bool>& yesToAll,
                         Decision yes);

    std::atomic<bool>& m_cancel;
    FailureSink m_failures;
    const int m_flags;
    FileOpQuestions* m_questions;
    RunProgress& m_progress;

    std::mutex m_askMutex; // one question at a time
    // The "to all" answers: read without the lock once given, so a second pass
    // over thousands of files does not queue on it.
    std::atomic<bool> m_replaceAll;
    std::atomic<bool> m_mergeAll;
    std::atomic<Outcome> m_firstError{Outcome::Success};
    std::atomic<Outcome> m_fatal{Outcome::Success}; // an outcome that ends the run at once
    std::atomic<bool> m_operatorSkipped{false};
    std::atomic<bool> m_skipAllErrors{false};
    bool m_topIsDestination = false;
    FailureSink m_unusableNameSink;
    std::atomic<int> m_itemsLeft{0};
    std::atomic<qint64> m_failed{0};
    std::atomic<qint64> m_skipped{0};
    std::atomic<qint64> m_unusableNames{0};
};

} // namespace fileop
