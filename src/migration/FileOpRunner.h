#pragma once

#include "migration/fileop/FileOperation.h"
#include "migration/fileop/RunSummary.h"

#include <QStringList>

class QWidget;

namespace FileOpRunner {

struct Outcome {
    int result = fileop::GeneralFailure;
    QStringList failures;      // one line per item not copied (failed, skipped, kept), with the reason
    QStringList unusableNames; // one line per name Windows clients cannot use (copied all the same)
    fileop::RunSummary summary;
    QString logPath; // the migration log that holds this run
};

// Runs one request on a worker thread with the progress dialog (unless
// FOF_SILENT) and the question dialogs owned by owner, and returns the
// engine's result. The caller is blocked in a nested event loop meanwhile, so
// it sees a synchronous call while the windows keep being served. The outcome
// and every item skipped or failed go to the day's migration log.
Outcome run(QWidget* owner, const fileop::Request& request);

// What the final box shows behind its details button: at most limit of the
// items not copied and the names Windows clients cannot use, then "... and N
// more", then the log that holds them all.
QString failureDetails(const Outcome& outcome, int limit = 200);

// What the final box says under its words: the run's numbers, why a run that
// did nothing failed, and how to finish a cancelled one.
QString outcomeText(const Outcome& outcome);

// A run refused before it started, with its reason, to the day's migration log.
void logRefusal(int operation, const QString& source, const QString& destination, const QString& reason);

// logs/Migration_<d>_<m>_<yyyy>.txt, one per day like the directory update's.
QString logNameNow();

} // namespace FileOpRunner
