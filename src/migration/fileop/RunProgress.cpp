#include "RunProgress.h"

#include "FileOperationEngine.h"

namespace fileop {

RunProgress::RunProgress(FileOperationEngine& engine)
    : m_engine(engine)
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
    p.bytesCopied = bytesCopied.load();
    p.counting = counting.load() && !finished;
    p.elapsedMs = m_clock.elapsed();
    p.finished = finished;
    const QString current = m_current ? m_current() : QString();
    p.currentFile = current.isEmpty() ? m_currentPath : current;
    m_lastReport = p.elapsedMs;
    if (finished)
        m_engine.setLastProgress(p);
    emit m_engine.progress(p);
}

void RunProgress::maybeReport()
{
    if (asking.load() == 0 && m_clock.elapsed() - m_lastReport >= kIntervalMs)
        report(false);
}

} // namespace fileop
