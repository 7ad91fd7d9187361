// The collision and error rules of one run: questions, "to all" answers, failures, the result.
#include "RunPolicy.h"

#include "RunProgress.h"

namespace fileop {

RunPolicy::RunPolicy(std::atomic<bool>& cancel, int flags, FileOpQuestions* questions, RunProgress& progress,
                     FailureSink failures)
    : m_cancel(cancel)
    , m_failures(std::move(failures))
    , m_flags(flags)
    , m_questions(questions)
    , m_progress(progress)
    , m_replaceAll(flags & FOF_NOCONFIRMATION)
    , m_mergeAll(flags & FOF_NOCONFIRMATION)
{}

Decision RunPolicy::decideFile(const Path& source, const Path& target)
{
    // Renaming wins over replacing: it never destroys anything.
    if (m_flags & FOF_RENAMEONCOLLISION)
        return Decision::Rename;
    return askOperator(Conflict::Kind::File, source, target, m_replaceAll, Decision::Replace);
}

Decision RunPolicy::decideFolder(const QString& source, const QString& target, bool top)
{
    if (top && m_topIsDestination)
        return Decision::Merge;
    // Only the top folder gets a new name; inside it everything is new anyway.
    if (top && (m_flags & FOF_RENAMEONCOLLISION))
        return Decision::Rename;
    return askOperator(
        Conflict::Kind::Folder, [&] { return source; }, [&] { return target; }, m_mergeAll, Decision::Merge);
}

Decision RunPolicy::askOperator(Conflict::Kind kind, const Path& source, const Path& target,
                                std::atomic<bool>& yesToAll, Decision yes)
{
    if (yesToAll.load())
        return yes;
    // One question at a time, and a "to all" answer given meanwhile holds for the waiting workers.
    std::lock_guard lock(m_askMutex);
    if (yesToAll)
        return yes;
    Conflict conflict{kind, source(), target()};
    if (kind == Conflict::Kind::File)
        describeConflict(conflict);
    if (m_cancel.load())
        return Decision::Skip;
    if (!m_questions) {
        recordFailure(Outcome::FileExists, QStringLiteral("%1: exists, nobody to ask").arg(conflict.target));
        return Decision::Skip;
    }
    m_progress.asking++;
    const ReplaceAnswer a = m_questions->askReplace(conflict);
    m_progress.asking--;
    switch (a) {
    case ReplaceAnswer::YesToAll:
        yesToAll = true;
        [[fallthrough]];
    case ReplaceAnswer::Yes:
        return yes;
    case ReplaceAnswer::No:
        noteOperatorSkip(conflict.target);
        return Decision::Skip;
    case ReplaceAnswer::Cancel:
        m_cancel.store(true);
        return Decision::Skip;
    }
    return Decision::Skip;
}

namespace {

FileError fileError(const QString& path, const QString& action, const Cause& cause)
{
    return {.path = path, .action = action, .error = cause.error, .changedDuringRun = cause.isChange()};
}

} // namespace

ErrorAnswer RunPolicy::onError(const QString& path, Action action, Cause cause)
{
    const FileError fe = fileError(path, actionText(action), cause);
    if (m_cancel.load())
        return ErrorAnswer::Cancel;
    ErrorAnswer a = ErrorAnswer::Skip;
    if (m_questions && !m_skipAllErrors.load()) {
        std::lock_guard lock(m_askMutex);
        // Skip All given while this error waited for the lock holds for it too.
        if (!m_skipAllErrors.load()) {
            m_progress.asking++;
            a = m_questions->askError(fe);
            m_progress.asking--;
            // Set before the lock is let go: an error waiting for it must not ask again.
            if (a == ErrorAnswer::SkipAll)
                m_skipAllErrors = true;
        }
    }
    if (a == ErrorAnswer::SkipAll)
        a = ErrorAnswer::Skip; // the callers know retry, skip and cancel
    if (a == ErrorAnswer::Skip)
        recordFailure(outcomeOf(cause), fe.text());
    else if (a == ErrorAnswer::Cancel)
        m_cancel.store(true);
    return a;
}

void RunPolicy::recordFailure(Outcome outcome, const QString& line)
{
    Outcome expected = Outcome::Success;
    m_firstError.compare_exchange_strong(expected, outcome == Outcome::Success ? Outcome::GeneralFailure : outcome);
    m_itemsLeft++;
    m_failed++;
    m_failures(line);
}

void RunPolicy::recordFileError(const QString& path, Action action, Cause cause)
{
    recordFileError(path, actionText(action), cause);
}

void RunPolicy::recordFileError(const QString& path, const QString& action, Cause cause)
{
    recordFailure(outcomeOf(cause), fileError(path, action, cause).text());
}

void RunPolicy::noteOperatorSkip(const QString& path)
{
    m_operatorSkipped = true;
    m_itemsLeft++;
    m_skipped++;
    m_failures(QStringLiteral("%1: kept, not replaced").arg(path));
}

void RunPolicy::noteUnusableName(const QString& path, const QString& problem)
{
    m_unusableNames++;
    if (m_unusableNameSink)
        m_unusableNameSink(QStringLiteral("%1: a name Windows clients cannot use: it %2").arg(path, problem));
}

void RunPolicy::stopRun(Outcome outcome, const QString& line)
{
    Outcome expected = Outcome::Success;
    m_fatal.compare_exchange_strong(expected, outcome);
    recordFailure(outcome, line);
    m_cancel.store(true);
}

// A partial run is never a success: a cancel, a failure or a skipped item all count.
Outcome RunPolicy::result() const
{
    if (const Outcome fatal = m_fatal.load(); fatal != Outcome::Success)
        return fatal;
    if (m_cancel.load())
        return Outcome::Cancelled;
    if (const Outcome e = m_firstError.load(); e != Outcome::Success)
        return e;
    return m_operatorSkipped ? Outcome::Cancelled : Outcome::Success;
}

Outcome RunPolicy::confirmCreate(const QString& shown)
{
    if (m_flags & (FOF_NOCONFIRMMKDIR | FOF_NOCONFIRMATION))
        return Outcome::Success;
    if (!m_questions) {
        recordFailure(Outcome::PathNotFound, QStringLiteral("%1: not created, nobody to ask").arg(shown));
        return Outcome::PathNotFound;
    }
    m_progress.asking++;
    const bool yes = m_questions->askCreateFolder(shown);
    m_progress.asking--;
    return yes ? Outcome::Success : Outcome::Cancelled;
}

} // namespace fileop
