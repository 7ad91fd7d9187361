#include "HomePathUpdate.h"

#include "HomeFolderCheck.h"
#include "HomePath.h"
#include "HomePathCsv.h"
#include "PermissionFixer.h"

#include "common/modMain.h"

#include <QDateTime>

namespace HomePathUpdate {

QString logName(const QDate& day)
{
    return modMain::DailyLogName(QStringLiteral("LDAP"), day);
}

QString logNameNow()
{
    return logName(QDate::currentDate());
}

UndoFile::UndoFile(const QDateTime& started, const QString& ou)
    : m_file(modMain::ApplicationFolder() + QStringLiteral("/logs/LDAP_undo_") +
             started.toString(QStringLiteral("yyyyMMdd_HHmmss")) + QStringLiteral(".csv"))
    , m_ou(ou)
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
    const QByteArray line = HomePathCsv::line({dn, sam, oldHome, newHome, m_ou}).toUtf8();
    return m_file.write(line) == line.size() && m_file.flush();
}

QStringList userAttributes()
{
    return {QStringLiteral("sAMAccountName"), QStringLiteral("homeDirectory"), QStringLiteral("objectSid")};
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
    if (HomePath::hasControls(sam))
        return QStringLiteral("the account name \"%1\" holds a control character").arg(printable(sam));
    return {};
}

QString printable(const QString& text)
{
    return modMain::EscapeControls(text);
}

PlannedAccount planAccount(const QString& dn, const QString& sam, const QString& currentHome, const QString& userPath)
{
    PlannedAccount a;
    a.dn = dn;
    a.sam = sam;
    a.currentHome = currentHome;
    a.problem = unsafeAccountName(sam);
    if (a.problem.isEmpty())
        a.problem = HomePath::homePathProblem(userPath + sam);
    if (a.problem.isEmpty())
        a.newHome = userPath + sam;
    return a;
}

QString qualified(const QString& domain, const QString& name)
{
    if (name.contains(u'\\') || name.contains(u'@') || domain.isEmpty())
        return name;
    return domain + u'\\' + name;
}

void RunSummary::add(const UserOutcome& outcome)
{
    if (outcome.outcome == Outcome::Updated)
        ++written;
    else if (outcome.outcome == Outcome::Unchanged)
        ++unchanged;
    else
        addNotWritten(outcome.reason);
    fixFailed += outcome.fixFailed;
}

void RunSummary::addNotWritten(const QString& reason, int count)
{
    if (count <= 0)
        return;
    for (auto& [r, n] : notWritten) {
        if (r == reason) {
            n += count;
            return;
        }
    }
    notWritten.append({reason, count});
}

int RunSummary::notWrittenTotal() const
{
    int total = 0;
    for (const auto& entry : notWritten)
        total += entry.second;
    return total;
}

int RunSummary::failures() const
{
    // A refused run counts each account it left alone; one with none still failed.
    return notWrittenTotal() + fixFailed + containers + (refused.isEmpty() || notWrittenTotal() > 0 ? 0 : 1);
}

QString RunSummary::text() const
{
    QString out = restore ? QStringLiteral("%1 restored, %2 already restored, %3 not restored")
                          : QStringLiteral("%1 updated, %2 unchanged, %3 not updated");
    out = out.arg(written).arg(unchanged).arg(notWrittenTotal());
    QStringList reasons;
    for (const auto& [reason, count] : notWritten)
        reasons << QStringLiteral("%1 %2").arg(count).arg(reason);
    if (!reasons.isEmpty())
        out += QStringLiteral(" (") + reasons.join(QStringLiteral(", ")) + u')';
    if (!restore)
        out += QStringLiteral(", %1 permission fixes failed").arg(fixFailed);
    if (containers > 0)
        out += QStringLiteral(", %1 containers could not be read").arg(containers);
    if (!refused.isEmpty())
        out += QStringLiteral("; nothing was written: ") + refused;
    if (!stoppedBy.isEmpty())
        out += QStringLiteral("; stopped by %1 between accounts").arg(stoppedBy);
    return out;
}

namespace {

// The name a log line gives an account: its logon name when it has a sound one.
QString logNameOf(const PlannedAccount& a)
{
    return unsafeAccountName(a.sam).isEmpty() ? a.sam : printable(a.dn);
}

struct EntryNow {
    QString sam;
    QString home; // "" for none
};

// What the account holds now; false with err set when it cannot be read.
bool readEntry(DirectoryAccess& directory, const QString& dn, EntryNow& now, DirectoryError& err)
{
    bool found = false;
    if (!directory.search(
            dn, DirectoryScope::Base, QStringLiteral("(objectClass=*)"), userAttributes(),
            [&](const DirectoryEntry& e) {
                now = {e.value(QStringLiteral("sAMAccountName")), e.value(QStringLiteral("homeDirectory"))};
                return found = true, false;
            },
            err))
        return false;
    if (!found)
        err = {32, QStringLiteral("No such object"), dn};
    return found;
}

UserOutcome notUpdated(UserOutcome out, const QString& reason)
{
    out.outcome = Outcome::NotUpdated;
    out.reason = reason;
    return out;
}

// The folder check's verdict on an account about to be written; false when it
// must not be written (logged), with the reason in out.
bool folderReady(const PlannedAccount& a, UserContext& c, UserOutcome& out)
{
    const QString name = logNameOf(a);
    switch (a.folder) {
    case FolderState::Exists:
    case FolderState::Unchecked: // the operator chose to skip the check
        return true;
    case FolderState::NotAFolder:
        c.log(name + QStringLiteral(" Not Updated: not a folder: ") + printable(a.newHome) + QStringLiteral(" (") +
              printable(a.folderText) + u')');
        out = notUpdated(out, QStringLiteral("not a folder"));
        return false;
    case FolderState::NotChecked:
        c.log(name + QStringLiteral(" Not Updated: the folder could not be checked: ") + printable(a.folderText));
        out = notUpdated(out, QStringLiteral("folder not checked"));
        return false;
    case FolderState::Missing:
        break;
    }
    if (!c.createMissing) {
        c.log(name + QStringLiteral(" Not Updated: folder missing: ") + printable(a.newHome));
        out = notUpdated(out, QStringLiteral("folder missing"));
        return false;
    }
    const QString why = HomeFolderCheck::create(a.newHome, qualified(c.domain, a.sam));
    if (!why.isEmpty()) {
        c.log(name + QStringLiteral(" Not Updated: the folder could not be created: ") + printable(a.newHome) +
              QStringLiteral(": ") + printable(why));
        out = notUpdated(out, QStringLiteral("folder not created"));
        return false;
    }
    c.log(name + QStringLiteral(" Created Home Folder ") + printable(a.newHome));
    return true;
}

void fixPermissions(const PlannedAccount& a, UserContext& c, UserOutcome& out)
{
    if (!c.settings.fixPermissions || !c.fixer)
        return;
    const PermissionFixer::Grant grant{qualified(c.domain, a.sam), a.sid, qualified(c.domain, c.settings.admGrp),
                                       c.adminSid, a.newHome};
    if (c.deferredFixes) {
        c.fixer->begin(grant);
        c.deferredFixes->append({logNameOf(a), grant});
    } else
        reportFix(logNameOf(a), c.fixer->fixGrant(grant), out, c.log);
}

} // namespace

void reportFix(const QString& logName, const PermissionFixer::Result& r, UserOutcome& out,
               const std::function<void(const QString&)>& log)
{
    out.fixFailed = !r.ok;
    if (r.ok)
        log(logName + QStringLiteral(" Fixed Home Drive Permissions"));
    else
        log(logName + QStringLiteral(" Fix Home Drive Permissions Failed: ") + printable(r.message));
}

namespace {

UserOutcome update(const PlannedAccount& a, UserContext& c)
{
    UserOutcome out;
    out.sam = a.sam;
    const QString name = logNameOf(a);
    if (!a.problem.isEmpty()) {
        c.log(printable(a.dn) + QStringLiteral(" Update Failed: ") + a.problem);
        return notUpdated(out, QStringLiteral("refused"));
    }
    if (!folderReady(a, c, out))
        return out;
    if (a.unchanged()) {
        // Nothing to write: a re-run repairs permissions without touching the directory.
        c.log(name + QStringLiteral(" Home Path Unchanged"));
        out.outcome = Outcome::Unchanged;
        fixPermissions(a, c, out);
        return out;
    }
    DirectoryError err;
    if (!c.directory.changeAttribute(a.dn, QStringLiteral("homeDirectory"), a.currentHome, a.newHome, err)) {
        if (err.code != 16 && err.code != 20) { // noSuchAttribute, attributeOrValueExists
            c.log(name + QStringLiteral(" Update Failed: ") + printable(err.text));
            return notUpdated(out, QStringLiteral("refused by the directory"));
        }
        // Say what it holds now, so the operator can decide.
        EntryNow now;
        DirectoryError readErr;
        if (!readEntry(c.directory, a.dn, now, readErr)) {
            c.log(name + QStringLiteral(" Update Failed: changed since (expected \"%1\"; reading it now failed: %2)")
                             .arg(printable(a.currentHome), printable(readErr.text)));
            return notUpdated(out, QStringLiteral("changed since the plan"));
        }
        c.log(name + QStringLiteral(" Update Failed: changed since (now \"%1\", expected \"%2\")")
                         .arg(printable(now.home), printable(a.currentHome)));
        return notUpdated(out, QStringLiteral("changed since the plan"));
    }
    out.outcome = Outcome::Updated;
    // The change is made: a record that cannot be kept is said, not dropped.
    if (c.undo && !c.undo->append(a.dn, a.sam, a.currentHome, a.newHome))
        c.log(name + QStringLiteral(" Not Recorded In The Undo File"));
    c.log(name + QStringLiteral(" Updated Home Path"));
    fixPermissions(a, c, out);
    return out;
}

// An undo trusts its file no further than the directory confirms it: the entry
// must still be the account the file names, and holding the old value already
// is no failure.
UserOutcome restore(const PlannedAccount& a, UserContext& c)
{
    UserOutcome out;
    out.sam = a.sam;
    EntryNow now;
    DirectoryError err;
    if (!readEntry(c.directory, a.dn, now, err)) {
        c.log(printable(a.dn) + QStringLiteral(" Restore Failed: ") + printable(err.text));
        return notUpdated(out, QStringLiteral("not readable"));
    }
    if (now.sam.compare(a.sam, Qt::CaseInsensitive) != 0) {
        c.log(printable(a.dn) + QStringLiteral(" Restore Failed: the entry's sAMAccountName is \"%1\", the undo file "
                                               "names \"%2\"")
                                    .arg(printable(now.sam), printable(a.sam)));
        return notUpdated(out, QStringLiteral("name differs"));
    }
    const QString name = printable(now.sam); // the account as the directory names it
    if (now.home == a.newHome) {
        c.log(name + QStringLiteral(" Already Restored \"%1\"").arg(printable(a.newHome)));
        out.outcome = Outcome::Unchanged;
        return out;
    }
    const bool written =
        c.mode == WriteMode::ForceRestore
            ? c.directory.setAttribute(a.dn, QStringLiteral("homeDirectory"), a.newHome, err)
            : now.home == a.currentHome &&
                  c.directory.changeAttribute(a.dn, QStringLiteral("homeDirectory"), a.currentHome, a.newHome, err);
    if (!written) {
        if (c.mode != WriteMode::ForceRestore && (err.code == 0 || err.code == 16 || err.code == 20)) {
            c.log(name + QStringLiteral(" Restore Failed: changed since (now \"%1\", expected \"%2\")")
                             .arg(printable(now.home), printable(a.currentHome)));
            return notUpdated(out, QStringLiteral("changed since"));
        }
        c.log(name + QStringLiteral(" Restore Failed: ") + printable(err.text));
        return notUpdated(out, QStringLiteral("refused by the directory"));
    }
    out.outcome = Outcome::Updated;
    if (c.undo && !c.undo->append(a.dn, now.sam, now.home, a.newHome))
        c.log(name + QStringLiteral(" Not Recorded In The Undo File"));
    c.log(name + QStringLiteral(" Restored Home Path \"%1\"").arg(printable(a.newHome)));
    return out;
}

} // namespace

UserOutcome updateUser(const PlannedAccount& account, UserContext& context)
{
    return context.mode == WriteMode::Update ? update(account, context) : restore(account, context);
}

} // namespace HomePathUpdate
