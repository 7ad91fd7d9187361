// Says a run's numbers in one line, the same in the command line, the log and the boxes.
#include "RunSummary.h"

#include "common/ByteSize.h"

#include <QLocale>

namespace fileop {

namespace {

QString count(qint64 n)
{
    return QLocale(QLocale::English).toString(n);
}

// Small counts exactly: a second pass may copy a few bytes, and "0.0 KB" would hide them.
QString byteText(qint64 n)
{
    return n < 1000 ? QStringLiteral("%1 bytes").arg(n) : ByteSize::text(n);
}

} // namespace

QString durationText(qint64 ms)
{
    const qint64 s = ms / 1000;
    if (s >= 3600)
        return QStringLiteral("%1 h %2 min").arg(s / 3600).arg((s % 3600) / 60);
    if (s >= 60)
        return QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
    return QStringLiteral("%1 s").arg(QLocale(QLocale::English).toString(double(ms) / 1000.0, 'f', 1));
}

QString summaryText(const RunSummary& s)
{
    const QString verb = s.dryRun ? QStringLiteral("to copy") : QStringLiteral("copied");
    QString line = QStringLiteral("%1 files %2 (%3), %4 already up to date, %5 metadata only, %6 skipped, %7 failed, "
                                  "%8 names Windows clients cannot use")
                       .arg(count(s.filesCopied), verb, byteText(s.bytesCopied), count(s.upToDate),
                            count(s.metadataOnly), count(s.skipped), count(s.failed), count(s.unusableNames));
    // A rename moves a whole folder as one entry: counting it as one file copied would not match the disk.
    if (s.renamed > 0)
        line = QStringLiteral("%1 %2 moved by renaming (no data copied), ")
                   .arg(count(s.renamed), s.renamed == 1 ? QStringLiteral("item") : QStringLiteral("items")) +
               line;
    if (s.dryRun)
        return line;
    line += QStringLiteral(", in %1").arg(durationText(s.elapsedMs));
    // Only what was written makes a rate: a pass that found everything up to date copied nothing.
    if (s.bytesCopied > 0 && s.elapsedMs > 0)
        line +=
            QStringLiteral(" (%1/s)").arg(ByteSize::text(qint64(double(s.bytesCopied) * 1000.0 / double(s.elapsedMs))));
    return line;
}

QString finishHint(const RunSummary& s, const QString& yesToAll)
{
    const qint64 done = s.filesCopied + s.renamed + s.upToDate + s.metadataOnly;
    const QString reached = s.filesTotal > 0 ? QStringLiteral("%1 of %2 files").arg(count(done), count(s.filesTotal))
                                             : QStringLiteral("%1 files").arg(count(done));
    return QStringLiteral("Stopped after %1. To finish, run the same %2 again with %3: what is already there is "
                          "found up to date and not copied again.")
        .arg(reached, s.operation == 1 ? QStringLiteral("move") : QStringLiteral("copy"), yesToAll);
}

} // namespace fileop
