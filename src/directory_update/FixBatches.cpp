// The permission fixes of an update run, made several accounts at a time.
#include "FixBatches.h"

namespace HomePathUpdate {

namespace {

// Accounts whose permission fixes are handed to the fixer together.
constexpr qsizetype kFixBatch = 16;

} // namespace

FixBatches::FixBatches(PermissionFixer* fixer, Log log, Log notice)
    : m_fixer(fixer)
    , m_log(std::move(log))
    , m_notice(std::move(notice))
{}

void FixBatches::add(int index, UserOutcome outcome, bool fixQueued)
{
    m_held.append({index, std::move(outcome), fixQueued ? m_queued.size() - 1 : -1});
}

bool FixBatches::due() const
{
    return m_queued.isEmpty() || m_queued.size() >= kFixBatch;
}

QList<std::pair<int, UserOutcome>> FixBatches::flush()
{
    if (!m_queued.isEmpty() && m_fixer) {
        QList<PermissionFixer::Grant> grants;
        for (const auto& queued : std::as_const(m_queued))
            grants << queued.second;
        const QList<PermissionFixer::Result> results = m_fixer->fixAll(grants);
        if (const QString notice = m_fixer->takeNotice(); !notice.isEmpty())
            m_notice(notice);
        for (Held& held : m_held)
            if (held.fix >= 0)
                reportFix(m_queued[held.fix].first,
                          results.value(held.fix, {false, QStringLiteral("the permission fix gave no result")}),
                          held.outcome, m_log);
    }
    QList<std::pair<int, UserOutcome>> done;
    for (Held& held : m_held)
        done.append({held.index, std::move(held.outcome)});
    m_queued.clear();
    m_held.clear();
    return done;
}

} // namespace HomePathUpdate
