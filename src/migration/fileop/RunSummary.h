// The numbers of one run, and the one line that says them everywhere.
#pragma once

#include <QString>

namespace fileop {

// What a run did, counted by the engine as it went.
struct RunSummary {
    int operation = 0;        // FO_MOVE or FO_COPY
    qint64 filesCopied = 0;   // data written
    qint64 renamed = 0;       // a move on one file system: files or whole folders renamed, no data written
    qint64 bytesCopied = 0;   // of those, the bytes actually written
    qint64 upToDate = 0;      // the target already held them: nothing to do
    qint64 metadataOnly = 0;  // same data: only attributes or times brought in line
    qint64 skipped = 0;       // kept as they were by an answer (No to replace)
    qint64 failed = 0;        // could not be done (Skip and Skip All at an error included)
    qint64 unusableNames = 0; // names Windows clients cannot use (copied all the same)
    qint64 filesTotal = 0;    // files found, 0 when not known
    qint64 elapsedMs = 0;
    bool cancelled = false;
    bool dryRun = false;
};

// "1,234 files copied (2.11 GB), 30,000 already up to date, 12 metadata only,
// 0 skipped, 3 failed, 2 names Windows clients cannot use, in 4.2 s (512 MB/s)"
QString summaryText(const RunSummary& summary);

// For a cancelled run: how far it got and how to finish (the option or box
// that answers every question named by the caller).
QString finishHint(const RunSummary& summary, const QString& yesToAll);

// "4.2 s", "3 min 12 s", "1 h 5 min".
QString durationText(qint64 ms);

} // namespace fileop
