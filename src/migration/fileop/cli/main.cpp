// corvane-fileop: moves or copies one folder with the migration engine, for
// scripts and benchmarks. Exit status 0 on success, 1 otherwise; the last
// line on standard error is always "result: N" once the engine has run.
#include "TerminalQuestions.h"

#include "common/ByteSize.h"
#include "common/modMain.h"
#include "migration/fileop/FileOperationEngine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
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
  A move on one file system renames; across file systems it copies, flushes the
  copies to disk, then deletes each source that is still as it was copied (a
  file changed or added meanwhile stays in SOURCE and the run fails).
  A symbolic link given as SOURCE is moved or copied as the link itself.

Options:
  --silent               no progress line
  --no-confirm-mkdir     create a missing DESTINATION without asking
  --yes-to-all           answer every question Yes to All: replace existing
                         files, merge existing folders, create missing folders
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
target keeps) gets its metadata brought in line, not its data copied again; the
line before the last says how many files were already up to date. Files with
several names in SOURCE keep one inode with those names in the copy.

Exit status: 0 when everything was done, 1 otherwise. The last line on
standard error reads "result: N": 0 success, 2 source missing, 5 access
denied, 112 disk full, 0x71 (113) source and target are the same,
0x76 (118) destination inside the source, 0x7D (125) the source lies inside
the existing target, 0x7E (126) destination is a file, 1223 cancelled (also by
Ctrl+C or SIGTERM) or an item kept/skipped by an answer, other values for
other failures. Names in messages have control characters escaped (\n, \xHH).
)";

FileOperationEngine* g_engine = nullptr;

extern "C" void onInterrupt(int)
{
    if (g_engine)
        g_engine->cancel(); // an atomic store: safe in a signal handler
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
    const QCommandLineOption workers(QStringLiteral("workers"), QString(), QStringLiteral("N"));
    parser.addOptions({help, silent, noConfirmMkdir, yesToAll, renameOnCollision, workers});
    if (!parser.parse(app.arguments()))
        return usageError(qPrintable(parser.errorText()));
    if (parser.isSet(help)) {
        std::fputs(kUsage, stdout);
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

    TerminalQuestions questions;
    FileOperationEngine engine;
    g_engine = &engine;
    questions.setCancelCheck([&engine] { return engine.isCancelled(); });
    // Without SA_RESTART, so a wait in progress returns at once.
    struct sigaction onStop {};
    onStop.sa_handler = onInterrupt;
    sigemptyset(&onStop.sa_mask);
    ::sigaction(SIGINT, &onStop, nullptr);
    ::sigaction(SIGTERM, &onStop, nullptr);
    const bool showProgress = !(request.flags & FOF_SILENT) && ::isatty(STDERR_FILENO) == 1;
    if (showProgress) {
        QObject::connect(
            &engine, &FileOperationEngine::progress, &engine,
            [&](const Progress& p) {
                const double seconds = std::max<qint64>(p.elapsedMs, 1) / 1000.0;
                questions.showProgress(QStringLiteral("%1/%2%3 files, %4 of %5, %6/s")
                                           .arg(p.filesDone)
                                           .arg(p.filesTotal)
                                           .arg(p.counting ? QStringLiteral("+") : QString())
                                           .arg(ByteSize::text(p.bytesDone), ByteSize::text(p.bytesTotal),
                                                ByteSize::text(static_cast<qint64>(p.bytesDone / seconds))));
            },
            Qt::DirectConnection);
    }
    const int result = engine.run(request, &questions);
    g_engine = nullptr;
    if (showProgress)
        questions.endProgress();
    for (const QString& line : engine.failures())
        std::fprintf(stderr, "%s\n", modMain::EscapeControls(line).toLocal8Bit().constData());
    std::fprintf(stderr, "%lld files already up to date\n",
                 static_cast<long long>(engine.lastProgress().filesUpToDate));
    std::fprintf(stderr, "result: %d\n", result);
    return result == 0 ? 0 : 1;
}
