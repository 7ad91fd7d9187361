// The permission fixes of an update run, made several accounts at a time.
#pragma once

#include "directory_update/HomePathUpdate.h"
#include "directory_update/PermissionFixer.h"

#include <QList>
#include <QString>

#include <functional>
#include <utility>

namespace HomePathUpdate {

// Each account handled is held until its fix (if it needs one) is done; the
// fixer gets the held fixes together, a batch at a time, and each result is
// logged under its own account. Accounts come back in the order they were
// handled, so the log reads as it would one account after another: a batch's
// fix lines follow its update lines.
class FixBatches {
public:
    using Log = std::function<void(const QString&)>;
    // notice: a line for the log when the fixer had to fall back to a slower way.
    FixBatches(PermissionFixer* fixer, Log log, Log notice);

    // Where the update queues the fixes it defers (UserContext::deferredFixes).
    QList<std::pair<QString, PermissionFixer::Grant>>* queue() { return &m_queued; }
    // The account just handled; fixQueued: it added one fix to the queue.
    void add(int index, UserOutcome outcome, bool fixQueued);
    // Whether the held accounts are to be fixed now: none waits for a fix, or a batch is full.
    bool due() const;
    // Makes the queued fixes and gives back every held account, in order, with its outcome.
    QList<std::pair<int, UserOutcome>> flush();

private:
    struct Held {
        int index;
        UserOutcome outcome;
        qsizetype fix; // into m_queued, -1 when it needs none
    };
    PermissionFixer* m_fixer;
    Log m_log;
    Log m_notice;
    QList<std::pair<QString, PermissionFixer::Grant>> m_queued;
    QList<Held> m_held;
};

} // namespace HomePathUpdate
