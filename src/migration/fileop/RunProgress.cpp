// The counts of one run and their reports, at most about ten a second.
#include "RunProgress.h"

namespace fileop {

RunProgress::RunProgress(std::function<void(const Progress&)> deliver)
    : m_deliver(std::move(deliver))
{
    m_clock.start();
}

void RunProgress::report(bool finished)
{
    Progress p;
    p.filesDone = filesDone.load();
    p.filesTotal = filesTotal.load();
    p.bytesDone = bytesDone.load();
    p.bytesTotal = bytesTotal.load();
    p.filesUpToDate = upToDate.load();
    p.filesQueuedPeak = queuedPeak.load();
    p.counting = counting.load() && !finished;
    p.elapsedMs = m_clock.elapsed();
    p.finished = finished;
    const QString current = m_current ? m_current() : QString();
    p.currentFile = current.isEmpty() ? m_currentPath : current;
    m_lastReport = p.elapsedMs;
    m_deliver(p);
}

void RunProgress::maybeReport()
{
    if (asking.load() == 0 && m_clock.elapsed() - m_lastReport >= kIntervalMs)
        report(false);
}

} // namespace fileop
