#include "HomePathUpdate.h"

#include "HomePathCsv.h"

#include "common/modMain.h"

#include <QDateTime>
#include <QDir>

namespace HomePathUpdate {

QString logName(const QDate& day)
{
    return modMain::DailyLogName(QStringLiteral("LDAP"), day);
}

QString logNameNow()
{
    return logName(QDate::currentDate());
}

QString toolPath()
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
    // A file whose first line could not be written is no undo file: it counts as not open.
    if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly) &&
        !(m_file.write(HomePathCsv::line(HomePathCsv::undoHeader().split(u',')).toUtf8()) > 0 && m_file.flush()))
        m_file.close();
}

bool UndoFile::append(const QString& dn, const QString& sam, const QString& oldHome, const QString& newHome)
{
    if (!m_file.isOpen())
        return false;
    const QByteArray line = HomePathCsv::line({dn, sam, oldHome, newHome}).toUtf8();
    return m_file.write(line) == line.size() && m_file.flush();
}

QStringList userAttributes()
{
    return {QStringLiteral("sAMAccountName"), QStringLiteral("homeDirectory")};
}

// The tool's own words, on one line, for the log.
static QString toolMessage(const modMain::ShellResult& r)
{
    if (!r.started)
        return QStringLiteral("could not start ") + toolPath();
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
        toolPath(), {folder, QStringLiteral("/e"), QStringLiteral("/g"), account + QStringLiteral(":F")}, 0);
    if (r.started && !r.crashed && r.exitCode == 0)
        return true;
    messages << toolMessage(r);
    return false;
}

QString unsafeAccountName(const QString& sam)
{
    if (sam.isEmpty())
        return QStringLiteral("the account has no sAMAccountName");
    if (sam == QLatin1String(".") || sam == QLatin1String(".."))
        return QStringLiteral("the account name \"%1\" would name a folder above the home folders").arg(sam);
    if (sam.contains(u'/') || sam.contains(u'\\'))
        return QStringLiteral("the account name \"%1\" holds a path separator").arg(printable(sam));
    for (const QChar c : sam)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control)
            return QStringLiteral("the account name \"%1\" holds a control character").arg(printable(sam));
    return {};
}

QString printable(const QString& text)
{
    return modMain::EscapeControls(text);
}

PlannedAccount planAccount(const QString& dn, const QString& sam, const QString& currentHome, const QString& userPath)
{
    PlannedAccount a{dn, sam, currentHome, QString(), unsafeAccountName(sam)};
    if (a.problem.isEmpty())
        a.newHome = userPath + sam;
    return a;
}

// The name a log line gives an account: its logon name when it has a sound one.
static QString logNameOf(const PlannedAccount& a)
{
    return unsafeAccountName(a.sam).isEmpty() ? a.sam : printable(a.dn);
}

// What the account holds now ("" for none); false with err set when it cannot be read.
static bool readHome(DirectoryAccess& directory, const QString& dn, QString& now, DirectoryError& err)
{
    now.clear();
    return directory.search(
        dn, DirectoryScope::Base, QStringLiteral("(objectClass=*)"), {QStringLiteral("homeDirectory")},
        [&now](const DirectoryEntry& e) { return now = e.values.value(0), false; }, err);
}

// Writes the new value; before is what it replaced (for the undo file).
static bool writeHome(DirectoryAccess& directory, const PlannedAccount& a, WriteMode mode, QString& before,
                      DirectoryError& err)
{
    const QString attribute = QStringLiteral("homeDirectory");
    before = a.currentHome;
    if (mode == WriteMode::ForceRestore) {
        // Unread, the old value would be recorded as none, and undoing this
        // restore would then delete the attribute.
        return readHome(directory, a.dn, before, err) && directory.setAttribute(a.dn, attribute, a.newHome, err);
    }
    if (directory.changeAttribute(a.dn, attribute, a.currentHome, a.newHome, err))
        return true;
    if (err.code != 16 && err.code != 20) // noSuchAttribute, attributeOrValueExists
        return false;
    // Say what it holds now, so the operator can decide.
    QString now;
    DirectoryError readErr;
    err.text = readHome(directory, a.dn, now, readErr)
                   ? QStringLiteral("changed since (now \"%1\", expected \"%2\")")
                         .arg(printable(now), printable(a.currentHome))
                   : QStringLiteral("changed since (expected \"%1\"; reading it now failed: %2)")
                         .arg(printable(a.currentHome), printable(readErr.text));
    return false;
}

UserOutcome updateUser(DirectoryAccess& directory, const PlannedAccount& account, const Settings& settings,
                       UndoFile* undo, WriteMode mode, const std::function<void(const QString&)>& log)
{
    UserOutcome out;
    out.sam = account.sam;
    const bool restore = mode != WriteMode::Update;
    const QString name = logNameOf(account);
    // A restore writes back what the directory held; only an update builds a path from the name.
    if (!restore && !account.problem.isEmpty()) {
        log(printable(account.dn) + QStringLiteral(" Update Failed: ") + account.problem);
        return out;
    }
    DirectoryError err;
    QString before;
    if (!writeHome(directory, account, mode, before, err)) {
        log(name + (restore ? QStringLiteral(" Restore Failed: ") : QStringLiteral(" Update Failed: ")) +
            printable(err.text));
        return out;
    }
    out.updated = true;
    // The change is made: a record that cannot be kept is said, not dropped.
    if (undo && !undo->append(account.dn, account.sam, before, account.newHome))
        log(name + QStringLiteral(" Not Recorded In The Undo File"));
    if (restore) {
        log(name + QStringLiteral(" Restored Home Path \"%1\"").arg(printable(account.newHome)));
        return out;
    }
    log(name + QStringLiteral(" Updated Home Path"));
    if (!settings.fixPermissions)
        return out;
    QStringList messages;
    const bool userOk = runTool(account.newHome, account.sam, messages);
    const bool groupOk = runTool(account.newHome, settings.admGrp, messages);
    out.permissionsOk = userOk && groupOk;
    if (out.permissionsOk)
        log(name + QStringLiteral(" Fixed Home Drive Permissions"));
    else
        log(name + QStringLiteral(" Fix Home Drive Permissions Failed: ") + printable(messages.join("; ")));
    return out;
}

} // namespace HomePathUpdate
