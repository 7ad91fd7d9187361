// The counters of one run and the reports made of them.
#pragma once

#include "FileOperation.h"

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <functional>

namespace fileop {

// The counts of one run and their reports: about ten a second at most, none
// while a question is open, and a last one when the run ends. The counters
// are bumped from any thread; reports leave from the engine's own thread.
class RunProgress {
public:
    // deliver: where each report goes (the engine's signal, the last one kept too).
    explicit RunProgress(std::function<void(const Progress&)> deliver);

    std::atomic<qint64> filesDone{0};
    std::atomic<qint64> filesTotal{0};
    std::atomic<qint64> bytesDone{0};
    std::atomic<qint64> bytesTotal{0};
    std::atomic<qint64> upToDate{0};
    std::atomic<qint64> queuedPeak{0};
    std::atomic<bool> counting{false}; // the totals still grow
    std::atomic<int> asking{0};        // questions open

    // What the report names as the current file: the one path set here, or
    // what current() returns while it is installed.
    void setCurrentPath(const QString& path) { m_currentPath = path; }
    void setCurrentFile(std::function<QString()> current) { m_current = std::move(current); }

    void report(bool finished);
    void maybeReport();

    static constexpr qint64 kIntervalMs = 100;

private:
    std::function<void(const Progress&)> m_deliver;
    QElapsedTimer m_clock;
    qint64 m_lastReport = -kIntervalMs;
    QString m_currentPath;
    std::function<QString()> m_current;
};

} // namespace fileop
