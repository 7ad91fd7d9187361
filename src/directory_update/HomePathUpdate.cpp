#include "HomePathUpdate.h"

#include "common/modMain.h"

#include <QDateTime>
#include <QDir>
#include <QRegularExpression>

namespace HomePathUpdate {

QString LogName(const QDate& day)
{
    return modMain::DailyLogName(QStringLiteral("LDAP"), day);
}

QString LogNameNow()
{
    return LogName(QDate::currentDate());
}

QString ToolPath()
{
    return modMain::ApplicationFolder() + QStringLiteral("/resources/cacls");
}

UndoFile::UndoFile(const QDateTime& started)
    : m_file(modMain::ApplicationFolder() + QStringLiteral("/logs/LDAP_undo_") +
             started.toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral(".csv"))
{
    // Two runs within one second must not mix: the second gets its own file.
    for (int n = 2; m_file.exists(); ++n)
        m_file.setFileName(modMain::ApplicationFolder() + QStringLiteral("/logs/LDAP_undo_") +
                           started.toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral("_%1.csv").arg(n));
    if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        m_file.write("dn,sAMAccountName,oldHomeDirectory,newHomeDirectory\r\n");
        m_file.flush();
    }
}

QString UndoFile::csvField(const QString& text)
{
    if (!text.contains(QRegularExpression(QStringLiteral("[\",\r\n]"))))
        return text;
    QString quoted = text;
    return '"' + quoted.replace('"', QStringLiteral("\"\"")) + '"';
}

bool UndoFile::append(const QString& dn, const QString& sam, const QString& oldHome, const QString& newHome)
{
    if (!m_file.isOpen())
        return false;
    const QString line =
        csvField(dn) + ',' + csvField(sam) + ',' + csvField(oldHome) + ',' + csvField(newHome) + QStringLiteral("\r\n");
    return m_file.write(line.toUtf8()) >= 0 && m_file.flush();
}

QStringList UserAttributes()
{
    return {QStringLiteral("sAMAccountName"), QStringLiteral("homeDirectory")};
}

// The tool's own words, on one line, for the log.
static QString toolMessage(const modMain::ShellResult& r)
{
    if (!r.started)
        return QStringLiteral("could not start ") + ToolPath();
    QString text = r.output.simplified();
    if (r.crashed)
        return QStringLiteral("the tool crashed") + (text.isEmpty() ? QString() : QStringLiteral(": ") + text);
    if (text.isEmpty())
        text = QStringLiteral("exit code %1").arg(r.exitCode);
    return text;
}

static bool runTool(const QString& folder, const QString& account, QStringList& messages)
{
    // An argument vector: blanks, quotes and ";" in the path or the group name
    // reach the tool as part of one argument each.
    const modMain::ShellResult r = modMain::ShellWaitFor(
        ToolPath(), {folder, QStringLiteral("/e"), QStringLiteral("/g"), account + QStringLiteral(":F")}, 0);
    if (r.started && !r.crashed && r.exitCode == 0)
        return true;
    messages << toolMessage(r);
    return false;
}

UserOutcome UpdateUser(DirectorySession& session, const DirectoryEntry& user, const Settings& settings, UndoFile* undo)
{
    UserOutcome out;
    out.sam = user.value(QStringLiteral("sAMAccountName"));
    if (out.sam.isEmpty()) {
        modMain::WriteLog(user.dn + QStringLiteral(" Update Failed: the account has no sAMAccountName"), LogNameNow());
        return out;
    }
    const QString newHome = settings.userPath + out.sam;
    DirectoryError err;
    if (!session.writeAttribute(user.dn, QStringLiteral("homeDirectory"), newHome, err)) {
        modMain::WriteLog(out.sam + QStringLiteral(" Update Failed: ") + err.text, LogNameNow());
        return out;
    }
    out.updated = true;
    if (undo)
        undo->append(user.dn, out.sam, user.value(QStringLiteral("homeDirectory")), newHome);
    modMain::WriteLog(out.sam + QStringLiteral(" Updated Home Path"), LogNameNow());
    if (!settings.fixPermissions)
        return out;
    QStringList messages;
    const bool userOk = runTool(newHome, out.sam, messages);
    const bool groupOk = runTool(newHome, settings.admGrp, messages);
    out.permissionsOk = userOk && groupOk;
    if (out.permissionsOk)
        modMain::WriteLog(out.sam + QStringLiteral(" Fixed Home Drive Permissions"), LogNameNow());
    else
        modMain::WriteLog(out.sam + QStringLiteral(" Fix Home Drive Permissions Failed: ") + messages.join("; "),
                          LogNameNow());
    return out;
}

} // namespace HomePathUpdate
