#pragma once

#include "directory_update/Directory.h"
#include "directory_update/PermissionFixer.h"

#include <QDate>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <utility>

// The per-user work of the home-path update, without any widget: write
// homeDirectory = user path + logon name, log it, record it for undo, and fix
// the permissions of the folder for the user and the administrators' group.
// A failing user is logged and counted; the caller goes on with the next one.
namespace HomePathUpdate {

// "LDAP_<d>_<m>_<yyyy>": the day's log, worked out again for every line so
// that lines written after midnight go to the next day's log.
QString logName(const QDate& day);
QString logNameNow();

// Records every change of a run, so an administrator can see and restore it:
// logs/LDAP_undo_<yyyymmdd>_<hhmmss>.csv with dn, sAMAccountName, old and new
// homeDirectory and the OU of the run, flushed after each user.
class UndoFile {
public:
    UndoFile(const QDateTime& started, const QString& ou);
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    bool append(const QString& dn, const QString& sam, const QString& oldHome, const QString& newHome);

private:
    QFile m_file;
    QString m_ou;
};

struct Settings {
    QString admGrp;
    QString userPath;
    bool fixPermissions = true;
};

// What the plan found where an account's new home folder should be.
enum class FolderState { Unchecked, Exists, Missing, NotAFolder, NotChecked };

// One account of a plan: what it holds now and what the run will write.
struct PlannedAccount {
    QString dn;
    QString sam;         // sAMAccountName, "" when the account has none
    QString currentHome; // homeDirectory when the plan was taken, "" when it had none
    QString newHome;     // "" when refused (then problem says why) or, for an undo, to remove it
    QString problem;     // why this account cannot be written; "" when it can
    FolderState folder = FolderState::Unchecked;
    QString folderText; // the check's words: "yes", "missing", "not checked: ..."
    QString sid;        // objectSid as S-1-... text, "" when the directory gave none
    // Already holds its new path: nothing to write.
    bool unchanged() const { return problem.isEmpty() && currentHome == newHome; }
};

// A container whose accounts could not be listed while planning.
struct PlanFailure {
    QString dn;
    QString text;
};

// Every account one update will touch, in the order it will touch them, taken
// before anything is written.
struct HomePathPlan {
    QString ou;
    bool deep = true;
    QString domain; // the directory's NetBIOS domain name, which qualifies account names
    QList<PlannedAccount> accounts;
    QList<PlanFailure> failures;
};

// Why a logon name must not become part of a path, or "" when it may: an empty
// name, "." or "..", a separator or a control character would make the update
// write another folder's path and grant on it.
QString unsafeAccountName(const QString& sam);
// A value read from the directory, with control characters escaped as the logs
// escape them, for log lines, the preview and the terminal.
QString printable(const QString& text);
// The account with its new path worked out from the user path, or refused.
PlannedAccount planAccount(const QString& dn, const QString& sam, const QString& currentHome, const QString& userPath);
// "DOMAIN\name"; a name already qualified ("X\name", "name@realm") stays as it is.
QString qualified(const QString& domain, const QString& name);

enum class Outcome { Updated, Unchanged, NotUpdated };

struct UserOutcome {
    QString sam;
    Outcome outcome = Outcome::NotUpdated;
    QString reason;         // why not updated, as the summary counts it: "folder missing", "refused" ...
    bool fixFailed = false; // the permission fix was run and failed
};

// The counts of one run, as the CLI's last line, the log and the wizard show them.
// An account whose path was written but whose fix failed counts as updated and
// as a failed fix, never as not updated: the directory holds its new path.
struct RunSummary {
    bool restore = false; // an undo: "restored", "already restored", "not restored"
    int written = 0;
    int unchanged = 0;
    int fixFailed = 0;
    int containers = 0;                        // containers that could not be read while planning
    QList<std::pair<QString, int>> notWritten; // by reason, in the order first met
    QString refused;                           // why nothing at all was written, "" when the run went ahead
    QString stoppedBy;                         // "SIGINT" when a signal stopped the run between accounts
    void add(const UserOutcome& outcome);
    void addNotWritten(const QString& reason, int count = 1);
    int notWrittenTotal() const;
    int failures() const;
    QString text() const;
};

enum class WriteMode {
    Update,       // only while the value is still the planned one; the update's log lines
    Restore,      // the same, with the undo's log lines
    ForceRestore, // whatever it holds now
};

// Attributes the plan must fetch for each account.
QStringList userAttributes();

// What updateUser needs besides the account.
struct UserContext {
    DirectoryAccess& directory;
    const Settings& settings;
    QString domain;
    UndoFile* undo = nullptr;
    WriteMode mode = WriteMode::Update;
    bool createMissing = false;
    PermissionFixer* fixer = nullptr;
    std::function<void(const QString&)> log;
    // The administrators' group's SID, looked up once per run so the fix need
    // not resolve its name for every account; "" when it could not be found.
    QString adminSid;
    // When set, the fix is not made but queued here, for the caller to make for
    // several accounts at once and to report with reportFix.
    QList<std::pair<QString, PermissionFixer::Grant>>* deferredFixes = nullptr;
};

// Logs a fix's result under the account's log name and counts a failure in out.
void reportFix(const QString& logName, const PermissionFixer::Result& result, UserOutcome& out,
               const std::function<void(const QString&)>& log);

// Writes one planned account, logs it, records it for undo and fixes its permissions.
UserOutcome updateUser(const PlannedAccount& account, UserContext& context);

} // namespace HomePathUpdate
