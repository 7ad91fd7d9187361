// corvane-fileop: moves or copies one folder with the migration engine, for
// scripts and benchmarks. Exit status 0 on success, 1 otherwise; the last
// line on standard error is always "result: N" once the engine has run.
#include "TerminalQuestions.h"

#include "common/ByteSize.h"
#include "common/modMain.h"
#include "migration/fileop/FileOperationEngine.h"
#include "migration/fileop/NetworkPath.h"
#include "migration/fileop/RunSummary.h"
#include "migration/fileop/TargetPreview.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <unistd.h>
#include <utility>

using namespace fileop;

namespace {

const char kUsage[] = R"(Usage: corvane-fileop {copy|move} [options] SOURCE DESTINATION

Copies or moves the folder SOURCE with everything below it.
  If DESTINATION is an existing folder, SOURCE goes inside it (DESTINATION/NAME).
  If DESTINATION does not exist, it becomes the copy of SOURCE (you are asked
  first, unless --no-confirm-mkdir or --yes-to-all).
  With --contents, DESTINATION itself receives what SOURCE holds, whether it
  exists or not: the same command run twice updates one copy.
  The first line says where the copy goes. When DESTINATION looks like an
  earlier copy of SOURCE (most of its names are SOURCE's, and it holds no
  NAME), you are asked whether to update it; without a terminal the rule
  above holds and a warning says so.
  A network path (\server\shareolder or //server/share/folder) is taken
  below the mount point of that share on this computer (a cifs/smb3 mount);
  when the share is not mounted nothing is done, and the message says how to
  mount it (mount -t cifs //server/share /mnt/share -o sec=krb5,cifsacl).
  A move on one file system renames; across file systems it copies, flushes the
  copies to disk, then deletes each source that is still as it was copied (a
  file changed or added meanwhile stays in SOURCE and the run fails).
  A symbolic link given as SOURCE is moved or copied as the link itself.

Options:
  --silent               no progress line
  --no-confirm-mkdir     create a missing DESTINATION without asking
  --yes-to-all           answer every question Yes to All: replace existing
                         files, merge existing folders, create missing folders
  --contents             copy or move the contents of SOURCE into DESTINATION
  --dry-run              write nothing: list on standard output what the run
                         would do to each item (create, replace, up to date,
                         metadata only, merge, ask, rename, fail, and for a
                         move, delete the source), then the totals
  --rename-on-collision  give an incoming item whose name is taken a new name
                         ("Copy of NAME", "Copy (2) of NAME", ...) instead of
                         replacing; wins over --yes-to-all
  --workers N            files copied at once (default 8); as many folders,
                         up to 8, are listed at once
  --help                 this text
  --                     what follows are paths, even when they begin with '-'

Questions (replace, merge, create, retry/skip/cancel after an error) are asked
on the terminal. When standard input is not a terminal they are answered No:
an existing item is kept, a missing destination is not created, a failing
file is skipped. Files are copied with their permissions, times, owner (as
root), extended attributes and ACLs; links stay links, sparse files sparse.

A second pass over an earlier copy copies only what changed: a replaced file
whose target has the same size and modification time (to the precision the
target keeps) gets its metadata brought in line, not its data copied again.
Files with several names in SOURCE keep one inode with those names in the copy.
Names that Windows clients cannot use (reserved characters such as : or ?,
a trailing dot or space, device names such as CON or COM1, control
characters) are copied all the same, and listed.

The line before the last sums the run up: files copied and their bytes,
already up to date, metadata only, skipped (kept by an answer), failed (Skip
and Skip All at an error included), names Windows clients cannot use, and the
time taken; the rate counts only the bytes copied. A move on one file system
starts the line with the files or whole folders it renamed. A cancelled run says how
far it got and how to finish it.

Exit status: 0 when everything was done, 1 otherwise. The last line on
standard error reads "result: N" (Ctrl+C and SIGTERM give 1223). Names in
messages have control characters escaped (\n, \xHH). Result codes:
)";

FileOperationEngine* g_engine = nullptr;

QByteArray escaped(const QString& text)
{
    return modMain::EscapeControls(text).toLocal8Bit();
}

extern "C" void onInterrupt(int)
{
    if (g_engine)
        g_engine->cancel(); // an atomic store: safe in a signal handler
}

// The help's list of result codes, from the engine's own table so none is missing.
QString resultCodeList()
{
    QString out;
    for (int code : resultCodes())
        out += QStringLiteral("  %1%2\n")
                   .arg(code >= 100 ? QStringLiteral("%1 (0x%2)").arg(code).arg(code, 0, 16).leftJustified(13)
                                    : QString::number(code).leftJustified(13),
                        resultText(code));
    return out;
}

// A network path becomes its mounted share's local path; the refusal is the
// run's end, before anything is written.
bool mapPath(QString& path, int* result, MountRoot* mount = nullptr)
{
    const MappedPath mapped = mapNetworkPath(path);
    if (!mapped.ok()) {
        // One line at a time: the refusal's own line breaks stay, a name's are escaped.
        const QStringList lines = mapped.refusal.split(u'\n');
        std::fprintf(stderr, "corvane-fileop: %s\n", escaped(lines.first()).constData());
        for (const QString& line : lines.mid(1))
            std::fprintf(stderr, "%s\n", escaped(line).constData());
        *result = mapped.share.isEmpty() ? PathNotFound : NetworkPathNotFound;
        return false;
    }
    if (!mapped.share.isEmpty())
        std::fprintf(stderr, "%s is %s (the share %s is mounted at %s)\n", escaped(path).constData(),
                     escaped(mapped.path).constData(), escaped(mapped.share).constData(),
                     escaped(mapped.mount.path).constData());
    path = mapped.path;
    if (mount)
        *mount = mapped.mount;
    return true;
}

// The first line: where the copy goes. An earlier copy in the destination is
// asked about on a terminal, and warned of without one.
int confirmTarget(Request& request, TerminalQuestions& questions)
{
    TargetPreview preview = previewTarget(request);
    if (preview.earlierCopy && questions.interactive()) {
        std::fprintf(stderr, "%s looks like an earlier copy of %s (%d of its %d names are also there).\n",
                     escaped(QDir::cleanPath(QDir::current().absoluteFilePath(request.destination))).constData(),
                     escaped(preview.source).constData(), preview.namesShared, preview.namesInDestination);
        switch (questions.askEarlierCopy(QDir::cleanPath(QDir::current().absoluteFilePath(request.destination)),
                                         preview.target)) {
        case 'u':
            request.contents = true;
            preview = previewTarget(request);
            break;
        case 'c':
            preview.warning.clear();
            break;
        default:
            return Cancelled;
        }
    }
    std::fprintf(stderr, "%s\n", escaped(preview.line).constData());
    if (!preview.warning.isEmpty())
        std::fprintf(stderr, "warning: %s\n", escaped(preview.warning).constData());
    return Success;
}

int usageError(const char* message)
{
    std::fprintf(stderr, "corvane-fileop: %s\nTry 'corvane-fileop --help'.\n", message);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption silent(QStringLiteral("silent"));
    const QCommandLineOption noConfirmMkdir(QStringLiteral("no-confirm-mkdir"));
    const QCommandLineOption yesToAll(QStringLiteral("yes-to-all"));
    const QCommandLineOption renameOnCollision(QStringLiteral("rename-on-collision"));
    const QCommandLineOption contents(QStringLiteral("contents"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption workers(QStringLiteral("workers"), QString(), QStringLiteral("N"));
    parser.addOptions({help, silent, noConfirmMkdir, yesToAll, renameOnCollision, workers, contents, dryRun});
    if (!parser.parse(app.arguments()))
        return usageError(qPrintable(parser.errorText()));
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
        std::fputs(resultCodeList().toLocal8Bit().constData(), stdout);
        return 0;
    }
    Request request;
    for (const auto& [option, flag] :
         {std::pair{&silent, FOF_SILENT}, std::pair{&noConfirmMkdir, FOF_NOCONFIRMMKDIR},
          std::pair{&yesToAll, FOF_NOCONFIRMATION}, std::pair{&renameOnCollision, FOF_RENAMEONCOLLISION}})
        if (parser.isSet(*option))
            request.flags |= flag;
    if (parser.isSet(workers)) {
        bool ok = false;
        request.workers = parser.value(workers).toInt(&ok);
        if (!ok || request.workers < 1 || request.workers > 256)
            return usageError("--workers takes a number from 1 to 256");
    }
    QStringList paths = parser.positionalArguments();
    const QString op = paths.isEmpty() ? QString() : paths.takeFirst();
    if (op == QLatin1String("copy"))
        request.operation = FO_COPY;
    else if (op == QLatin1String("move"))
        request.operation = FO_MOVE;
    else
        return usageError("the first argument must be copy or move");
    if (paths.size() != 2)
        return usageError("give one SOURCE and one DESTINATION");
    request.source = paths[0];
    request.destination = paths[1];
    request.contents = parser.isSet(contents);
    request.dryRun = parser.isSet(dryRun);

    TerminalQuestions questions;
    if (int refused = 0; !mapPath(request.source, &refused, &request.sourceMount) ||
                         !mapPath(request.destination, &refused, &request.destinationMount)) {
        std::fprintf(stderr, "result: %d\n", refused);
        return 1;
    }
    if (const QString refusal = backslashRefusal(request.destination); !refusal.isEmpty()) {
        std::fprintf(stderr, "corvane-fileop: %s\nresult: %d\n", escaped(refusal).constData(), int(PathNotFound));
        return 1;
    }
    if (const int rc = confirmTarget(request, questions); rc != Success) {
        std::fprintf(stderr, "result: %d\n", rc);
        return 1;
    }
    FileOperationEngine engine;
    g_engine = &engine;
    questions.setCancelCheck([&engine] { return engine.isCancelled(); });
    // Without SA_RESTART, so a wait in progress returns at once.
    struct sigaction onStop {};
    onStop.sa_handler = onInterrupt;
    sigemptyset(&onStop.sa_mask);
    ::sigaction(SIGINT, &onStop, nullptr);
    ::sigaction(SIGTERM, &onStop, nullptr);
    const bool showProgress = !(request.flags & FOF_SILENT) && !request.dryRun && ::isatty(STDERR_FILENO) == 1;
    if (request.dryRun)
        engine.setDryRunSink([](const QString& line) { std::printf("%s\n", escaped(line).constData()); });
    if (showProgress) {
        QObject::connect(
            &engine, &FileOperationEngine::progress, &engine,
            [&](const Progress& p) {
                const double seconds = std::max<qint64>(p.elapsedMs, 1) / 1000.0;
                // The rate counts what was written, not the files found up to date.
                questions.showProgress(QStringLiteral("%1/%2%3 files, %4 of %5, %6/s")
                                           .arg(p.filesDone)
                                           .arg(p.filesTotal)
                                           .arg(p.counting ? QStringLiteral("+") : QString())
                                           .arg(ByteSize::text(p.bytesDone), ByteSize::text(p.bytesTotal),
                                                ByteSize::text(static_cast<qint64>(p.bytesCopied / seconds))));
            },
            Qt::DirectConnection);
    }
    const int result = engine.run(request, &questions);
    g_engine = nullptr;
    if (showProgress)
        questions.endProgress();
    for (const QString& line : engine.failures() + engine.unusableNames())
        std::fprintf(stderr, "%s\n", escaped(line).constData());
    const RunSummary summary = engine.summary();
    if (request.dryRun) {
        std::printf("%s\n", escaped(engine.dryRunTotals()).constData());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "%s\n", escaped(summaryText(summary)).constData());
    }
    if (summary.cancelled)
        std::fprintf(stderr, "%s\n", escaped(finishHint(summary, QStringLiteral("--yes-to-all"))).constData());
    std::fprintf(stderr, "result: %d\n", result);
    return result == 0 ? 0 : 1;
}
