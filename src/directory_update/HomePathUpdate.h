#pragma once

#include "directory_update/Directory.h"

#include <QDate>
#include <QFile>
#include <QString>

#include <functional>

// The per-user work of the home-path update, without any widget: write
// homeDirectory = user path + logon name, log it, record it for undo, and run
// the permission tool for the user and the administrators' group. A failing
// user is logged and counted; the caller goes on with the next one.
namespace HomePathUpdate {

// "LDAP_<d>_<m>_<yyyy>": the day's log, worked out again for every line so
// that lines written after midnight go to the next day's log.
QString logName(const QDate& day);
QString logNameNow();
// The permission tool beside the program.
QString toolPath();

// Records every change of a run, so an administrator can see and restore it:
// logs/LDAP_undo_<yyyymmdd>_<hhmmss>.csv with dn, sAMAccountName, old and new
// homeDirectory, flushed after each user.
class UndoFile {
public:
    explicit UndoFile(const QDateTime& started);
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    bool append(const QString& dn, const QString& sam, const QString& oldHome, const QString& newHome);

private:
    QFile m_file;
};

struct Settings {
    QString admGrp;
    QString userPath;
    bool fixPermissions = true;
};

// One account of a plan: what it holds now and what the run will write.
struct PlannedAccount {
    QString dn;
    QString sam;         // sAMAccountName, "" when the account has none
    QString currentHome; // homeDirectory when the plan was taken, "" when it had none
    QString newHome;     // "" when refused (then problem says why) or, for an undo, to remove it
    QString problem;     // why this account cannot be written; "" when it can
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

struct UserOutcome {
    QString sam;
    bool updated = false;      // homeDirectory written
    bool permissionsOk = true; // tool runs succeeded (or not asked for)
    bool failed() const { return !updated || !permissionsOk; }
};

enum class WriteMode {
    Update,       // only while the value is still the planned one; the update's log lines
    Restore,      // the same, with the undo's log lines
    ForceRestore, // whatever it holds now
};

// Attributes the plan must fetch for each account.
QStringList userAttributes();
// Writes one planned account, logs it, records it for undo and fixes its
// permissions; log writes go through log (the day's LDAP log by default).
UserOutcome updateUser(DirectoryAccess& directory, const PlannedAccount& account, const Settings& settings,
                       UndoFile* undo, WriteMode mode, const std::function<void(const QString&)>& log);

} // namespace HomePathUpdate
