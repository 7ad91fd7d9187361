#pragma once

#include "directory_update/Directory.h"

#include <QDate>
#include <QFile>
#include <QString>

// The per-user work of the home-path update, without any widget: write
// homeDirectory = user path + logon name, log it, record it for undo, and run
// the permission tool for the user and the administrators' group. A failing
// user is logged and counted; the caller goes on with the next one.
namespace HomePathUpdate {

// "LDAP_<d>_<m>_<yyyy>": the day's log, worked out again for every line so
// that lines written after midnight go to the next day's log.
QString LogName(const QDate& day);
QString LogNameNow();
// The permission tool beside the program.
QString ToolPath();

// Records every change of a run, so an administrator can see and restore it:
// logs/LDAP_undo_<yyyymmdd>_<hhmmss>.csv with dn, sAMAccountName, old and new
// homeDirectory, flushed after each user.
class UndoFile {
public:
    explicit UndoFile(const QDateTime& started);
    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    bool append(const QString& dn, const QString& sam, const QString& oldHome, const QString& newHome);
    static QString csvField(const QString& text);

private:
    QFile m_file;
};

struct Settings {
    QString admGrp;
    QString userPath;
    bool fixPermissions = true;
};

struct UserOutcome {
    QString sam;
    bool updated = false;      // homeDirectory written
    bool permissionsOk = true; // tool runs succeeded (or not asked for)
    bool failed() const { return !updated || !permissionsOk; }
};

// Attributes the enumeration must fetch for UpdateUser.
QStringList UserAttributes();
UserOutcome UpdateUser(DirectorySession& session, const DirectoryEntry& user, const Settings& settings, UndoFile* undo);

} // namespace HomePathUpdate
