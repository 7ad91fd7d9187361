// corvane-homedirs: the directory update of the wizard for scripts. The same
// job, logs, undo file and directory set-up (ldap.conf, Kerberos ticket).
// Exit status 0 when every account succeeded, 1 when one failed, 2 when
// nothing was written because the request was refused.
#include "common/modMain.h"
#include "directory_update/HomePathCsv.h"
#include "directory_update/HomePathUpdateJob.h"
#include "settings/AppSettings.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

using namespace HomePathUpdate;

namespace {

const char kUsage[] = R"(Usage: corvane-homedirs plan --ou DN [--one-level] [options]
       corvane-homedirs run --ou DN [--one-level] [--no-fix-permissions]
                            [--create-missing | --skip-folder-check] [--yes] [options]
       corvane-homedirs undo FILE.csv [--force] [--yes]

Points the home folder (homeDirectory) of every user account below an OU at
the user path followed by the account's logon name, as the wizard does.

  plan   prints, as CSV on standard output, every account the run would
         write, in the order it would write them: dn, sAMAccountName, current
         and new homeDirectory, whether it is unchanged, and why an account
         would be refused. Control characters are escaped as in the log.
         Writes nothing.
  run    takes the same plan and looks for every new home folder (locally,
         or over SMB with the Kerberos ticket); then writes each account,
         logs it to logs/LDAP_<d>_<m>_<yyyy>.txt and records it in
         logs/LDAP_undo_<yyyymmdd>_<hhmmss>.csv beside the program; then
         grants the user and the administrators' group (as DOMAIN\name)
         full control on the new folder (resources/cacls) unless
         --no-fix-permissions. An account whose folder is missing is not
         written (--create-missing makes the folder first). An account that
         already holds its new path is not written again; its permissions
         are still fixed. An account whose homeDirectory changed after the
         plan was taken is not overwritten; an account added after it is not
         written. All of them are logged. SIGINT or SIGTERM stops the run
         between two accounts.
  undo   puts back the old homeDirectory of each account of an undo file
         (an empty old value removes the attribute), below the OU the file
         records only. Only an account that still holds the value the run
         wrote, and whose own sAMAccountName is the file's, is changed; any
         other is skipped and reported, unless --force (which still checks
         the name). An account that already holds the old value counts as
         already restored. Each restore is logged, and the undo writes an
         undo file of its own, so it can itself be undone. The whole file is
         checked first: a malformed line is reported with its number and
         nothing is written.

Options:
  --ou DN               the OU (or any container) whose accounts are updated
  --one-level           only the accounts directly in it; default: every
                        account below it, the OU's own first, then each
                        container below it, depth first
  --no-fix-permissions  do not run the permission tool
  --create-missing      create each missing home folder (owned by the
                        account where this system knows it), then write
  --skip-folder-check   do not look for the folders; write every account
  --yes                 do not ask; required when standard input is not a
                        terminal (without it, run and undo refuse)
  --force               undo: restore also accounts changed since the run
  --user-path PATH      instead of the setting "%1" of settings/corvane.ini
  --admin-group NAME    instead of the setting "%2"
  --help                this text

The user path must be a network path (\\server\share\folder\) or an
absolute local path (/srv/homes/), without "." or "..", ending with its
separator; every home path it makes must fit in 260 characters.

The directory comes from the OpenLDAP client configuration (ldap.conf,
ldaprc, LDAPURI/LDAPBASE) and the operator's Kerberos ticket (kinit), as for
the wizard. Progress is shown on standard error when it is a terminal. The
last line on standard error gives the counts, as the log's last line does.

Exit status: 0 every account succeeded (or was unchanged); 1 at least one
was not written or its permission fix failed, or a signal stopped the run
(see the log); 2 refused before anything was written (bad usage, unknown
OU, a user path that breaks a rule, folders that cannot be checked,
unreadable or malformed undo file, no confirmation).
)";

// The usage with the setting names the file uses.
QString usage()
{
    return QString::fromUtf8(kUsage).arg(AppSettings::kUserPathKey, AppSettings::kAdminGroupKey);
}

constexpr int kExitFailed = 1;
constexpr int kExitRefused = 2;

int refuse(const QString& message)
{
    std::fprintf(stderr, "corvane-homedirs: %s\n", qPrintable(printable(message)));
    return kExitRefused;
}

std::unique_ptr<DirectoryAccess> openDirectory(DirectoryError& err)
{
    return DirectorySession::open(err);
}

// Asking is for a person at a terminal; a script must say --yes.
bool confirmed(const QString& question, bool yes)
{
    if (yes)
        return true;
    std::fprintf(stderr, "%s [y/N] ", qPrintable(printable(question)));
    std::fflush(stderr);
    char answer[16] = {};
    if (!std::fgets(answer, sizeof answer, stdin))
        return false;
    return answer[0] == 'y' || answer[0] == 'Y';
}

void showProgress(HomePathUpdateJob& job)
{
    if (::isatty(STDERR_FILENO) != 1)
        return;
    QObject::connect(&job, &HomePathUpdateJob::progress, &job, [](int done, int total, const QString& name) {
        std::fprintf(stderr, "\r\033[K%d/%d %s", done, total, qPrintable(printable(name)));
        if (done == total)
            std::fputc('\n', stderr);
    });
}

// A signal stops the run between two accounts: what was written stays logged
// and recorded. The signals are blocked in the working thread (and in the
// tools it starts) and taken by a waiter thread, so none can interrupt an LDAP
// write half way: an interrupted call reports a failure the server may not have had.
class SignalStop {
public:
    explicit SignalStop(HomePathUpdateJob& job)
    {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGINT);
        sigaddset(&m_signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &m_signals, &m_old);
        m_waiter = std::thread([this, &job] {
            const timespec tick{0, 100 * 1000 * 1000};
            while (!m_done) {
                const int signal = sigtimedwait(&m_signals, nullptr, &tick);
                if (signal == SIGINT || signal == SIGTERM)
                    job.requestStop(signal == SIGINT ? "SIGINT" : "SIGTERM");
            }
        });
    }
    ~SignalStop()
    {
        m_done = true;
        m_waiter.join();
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

private:
    sigset_t m_signals{};
    sigset_t m_old{};
    std::atomic<bool> m_done{false};
    std::thread m_waiter;
};

int runJob(HomePathUpdateJob& job)
{
    showProgress(job);
    {
        SignalStop stop(job);
        job.run();
    }

    if (!job.logFailure().ok())
        std::fprintf(stderr, "corvane-homedirs: the log could not be written: %s\n",
                     qPrintable(job.logFailure().message()));
    const RunSummary& s = job.summary();
    std::fprintf(
        stderr, "log: %s\nundo file: %s\n",
        qPrintable(modMain::ApplicationFolder() + QStringLiteral("/logs/") + logNameNow() + QStringLiteral(".txt")),
        job.undoFileName().isEmpty() ? (s.written == 0 ? "(none: nothing was written)" : "(could not be written)")
                                     : qPrintable(job.undoFileName()));
    if (!s.stoppedBy.isEmpty())
        std::fprintf(stderr,
                     "corvane-homedirs: stopped by %s between two accounts; the log and the undo file cover "
                     "exactly what was written\n",
                     qPrintable(s.stoppedBy));
    std::fprintf(stderr, "%s\n", qPrintable(s.text()));
    if (!s.refused.isEmpty())
        return kExitRefused;
    return s.failures() == 0 ? 0 : kExitFailed;
}

int undoRun(const QString& file, bool force, bool yes)
{
    const HomePathCsv::UndoRead read = HomePathCsv::readUndoFile(file);
    if (!read.error.isEmpty())
        return refuse(file + QStringLiteral(": ") + read.error + QStringLiteral("; nothing was written"));
    if (!yes && ::isatty(STDIN_FILENO) != 1)
        return refuse(QStringLiteral("standard input is not a terminal: give --yes to undo without asking"));
    if (!confirmed(QStringLiteral("Restore the home folder path of %1 accounts below %2?")
                       .arg(read.plan.accounts.size())
                       .arg(read.plan.ou),
                   yes))
        return refuse(QStringLiteral("not confirmed; nothing was written"));
    HomePathUpdateJob job(openDirectory);
    job.setPlan(read.plan);
    job.setWriteMode(force ? WriteMode::ForceRestore : WriteMode::Restore);
    job.setSettings({QString(), QString(), false});
    return runJob(job);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption ou(QStringLiteral("ou"), QString(), QStringLiteral("DN"));
    const QCommandLineOption oneLevel(QStringLiteral("one-level"));
    const QCommandLineOption noFix(QStringLiteral("no-fix-permissions"));
    const QCommandLineOption createMissing(QStringLiteral("create-missing"));
    const QCommandLineOption skipCheck(QStringLiteral("skip-folder-check"));
    const QCommandLineOption yes(QStringLiteral("yes"));
    const QCommandLineOption force(QStringLiteral("force"));
    const QCommandLineOption userPath(QStringLiteral("user-path"), QString(), QStringLiteral("PATH"));
    const QCommandLineOption adminGroup(QStringLiteral("admin-group"), QString(), QStringLiteral("NAME"));
    parser.addOptions({help, ou, oneLevel, noFix, createMissing, skipCheck, yes, force, userPath, adminGroup});
    if (!parser.parse(app.arguments()))
        return refuse(parser.errorText() + QStringLiteral("\nTry 'corvane-homedirs --help'."));
    if (parser.isSet(help)) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    QStringList args = parser.positionalArguments();
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == QLatin1String("undo")) {
        if (args.size() != 1 || parser.isSet(ou))
            return refuse(QStringLiteral("undo takes one undo file and no --ou"));
        return undoRun(args[0], parser.isSet(force), parser.isSet(yes));
    }
    if (command != QLatin1String("plan") && command != QLatin1String("run"))
        return refuse(QStringLiteral("the first argument must be plan, run or undo; try --help"));
    if (!args.isEmpty())
        return refuse(QStringLiteral("unexpected argument: ") + args[0]);
    if (parser.value(ou).isEmpty())
        return refuse(QStringLiteral("--ou DN is required"));
    if (parser.isSet(createMissing) && parser.isSet(skipCheck))
        return refuse(QStringLiteral("--create-missing needs the folder check that --skip-folder-check leaves out"));

    const AppSettings stored = AppSettings::load();
    if (!stored.loadError.isEmpty())
        return refuse(AppSettings::file() + QStringLiteral(": ") + stored.loadError);
    Settings settings;
    settings.userPath = parser.isSet(userPath) ? parser.value(userPath) : stored.userPath;
    settings.admGrp = parser.isSet(adminGroup) ? parser.value(adminGroup) : stored.adminGroup;
    settings.fixPermissions = !parser.isSet(noFix);
    if (settings.userPath.isEmpty())
        return refuse(QStringLiteral("the user path is empty: set %1 in %2 or give --user-path")
                          .arg(AppSettings::kUserPathKey, AppSettings::file()));
    const bool run = command == QLatin1String("run");
    if (run && !parser.isSet(yes) && ::isatty(STDIN_FILENO) != 1)
        return refuse(QStringLiteral("standard input is not a terminal: give --yes to run without asking"));

    HomePathUpdateJob job(openDirectory);
    DirectoryError err;
    if (!job.plan(parser.value(ou), !parser.isSet(oneLevel), settings.userPath, err))
        return refuse(err.object == QLatin1String("UserPath")
                          ? QStringLiteral("%1; nothing was written").arg(err.text)
                          : QStringLiteral("cannot read %1: %2").arg(parser.value(ou), err.text));
    job.setSettings(settings);
    const HomePathPlan& plan = job.currentPlan();
    for (const PlanFailure& f : plan.failures)
        std::fprintf(stderr, "corvane-homedirs: cannot read %s: %s\n", qPrintable(printable(f.dn)),
                     qPrintable(printable(f.text)));
    if (!run) {
        QTextStream out(stdout);
        out << HomePathCsv::line(HomePathCsv::planHeader().split(u','));
        for (const PlannedAccount& a : plan.accounts)
            out << HomePathCsv::line(HomePathCsv::planFields(a));
        out.flush();
        return plan.failures.isEmpty() ? 0 : kExitFailed;
    }
    job.setSkipFolderCheck(parser.isSet(skipCheck));
    job.setCreateMissing(parser.isSet(createMissing));
    if (const QString why = job.refusal(); !why.isEmpty())
        return refuse(why + (why.startsWith(QLatin1String("the home folders"))
                                 ? QStringLiteral("; nothing was written (--skip-folder-check writes anyway)")
                                 : QStringLiteral("; nothing was written")));
    QString missing;
    if (const int n = job.missingFolders(); n > 0)
        missing = parser.isSet(createMissing) ? QStringLiteral(" %1 missing home folders will be created.").arg(n)
                                              : QStringLiteral(" %1 accounts whose home folder is missing will be "
                                                               "left alone (--create-missing makes them).")
                                                    .arg(n);
    if (!confirmed(QStringLiteral("Update the home folder path of %1 accounts below %2?%3")
                       .arg(plan.accounts.size())
                       .arg(plan.ou, missing),
                   parser.isSet(yes)))
        return refuse(QStringLiteral("not confirmed; nothing was written"));
    return runJob(job);
}
