#include "HomePathUpdateJob.h"

#include <algorithm>

#include "common/modMain.h"

#include <QDateTime>
#include <QSet>
#include <QThread>

using namespace HomePathUpdate;

namespace {

// The parent of a DN: what follows its first unescaped comma.
QString parentOf(const QString& dn)
{
    for (qsizetype i = 0; i < dn.size(); ++i) {
        if (dn[i] == u'\\')
            ++i;
        else if (dn[i] == u',')
            return dn.mid(i + 1);
    }
    return {};
}

// DNs as the server writes them differ from one another only in case.
QString keyOf(const QString& dn)
{
    return dn.toLower();
}

PlannedAccount accountOf(const DirectoryEntry& e, const QString& userPath)
{
    return planAccount(e.dn, e.value(QStringLiteral("sAMAccountName")), e.value(QStringLiteral("homeDirectory")),
                       userPath);
}

} // namespace

HomePathUpdateJob::HomePathUpdateJob(DirectoryOpener opener, QObject* parent)
    : QObject(parent)
    , m_opener(std::move(opener))
{}

HomePathUpdateJob::~HomePathUpdateJob()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

bool HomePathUpdateJob::plan(const QString& ou, bool deep, const QString& userPath, DirectoryError& err)
{
    m_plan = {ou, deep, {}, {}};
    m_settings.userPath = userPath;
    auto directory = m_opener(err);
    if (!directory)
        return false;
    // First every account the count sees, whatever container holds it ...
    QList<DirectoryEntry> found;
    if (!directory->search(
            ou, deep ? DirectoryScope::Subtree : DirectoryScope::OneLevel, DirectorySession::userFilter(),
            userAttributes(), [&found](const DirectoryEntry& e) { return found.append(e), true; }, err))
        return false;
    if (!deep) {
        for (const DirectoryEntry& e : found)
            m_plan.accounts.append(accountOf(e, userPath));
        return true;
    }
    // ... then the walk, parent first and depth first, into every container that
    // holds one of them: organizational units and CN= containers alike.
    QSet<QString> holders;
    for (const DirectoryEntry& e : found)
        for (QString p = parentOf(e.dn); !p.isEmpty() && !holders.contains(keyOf(p)); p = parentOf(p))
            holders.insert(keyOf(p));
    visit(*directory, ou, holders, userPath);
    // An account the search found but the walk did not reach (its container
    // could not be listed, or names it otherwise) must not drop out unsaid.
    const QSet<QString> planned = plannedKeys();
    for (const DirectoryEntry& e : std::as_const(found))
        if (!planned.contains(keyOf(e.dn)) && !toldByFailure(e.dn))
            m_plan.failures.append({e.dn, QStringLiteral("found below the OU but not reached through its containers")});
    return true;
}

void HomePathUpdateJob::visit(DirectoryAccess& directory, const QString& container, const QSet<QString>& holders,
                              const QString& userPath)
{
    DirectoryError err;
    if (!directory.search(
            container, DirectoryScope::OneLevel, DirectorySession::userFilter(), userAttributes(),
            [&](const DirectoryEntry& e) { return m_plan.accounts.append(accountOf(e, userPath)), true; }, err)) {
        m_plan.failures.append({container, err.text});
        return;
    }
    QStringList next;
    if (!directory.search(
            container, DirectoryScope::OneLevel, QStringLiteral("(objectClass=*)"), {},
            [&](const DirectoryEntry& e) {
                if (holders.contains(keyOf(e.dn)))
                    next << e.dn;
                return true;
            },
            err)) {
        m_plan.failures.append({container, err.text});
        return;
    }
    for (const QString& child : next)
        visit(directory, child, holders, userPath);
}

void HomePathUpdateJob::setPlan(HomePathPlan plan)
{
    m_plan = std::move(plan);
}

void HomePathUpdateJob::setSettings(const Settings& settings)
{
    m_settings = settings;
    if (m_mode != WriteMode::Update)
        return;
    for (PlannedAccount& a : m_plan.accounts)
        a = planAccount(a.dn, a.sam, a.currentHome, settings.userPath);
}

void HomePathUpdateJob::logLine(const QString& message)
{
    if (m_log) {
        m_log(message);
        return;
    }
    // Written from the job's own thread: WriteLog shows nothing, and the run
    // keeps only its first failure for the caller to report once.
    const modMain::LogResult written = modMain::WriteLog(message, logNameNow());
    if (!written.ok() && m_logFailure.ok())
        m_logFailure = written;
}

int HomePathUpdateJob::run()
{
    m_running = true;
    m_errors = 0;
    m_undoFile.clear();
    m_logFailure = {};
    const auto log = [this](const QString& line) {
        logLine(line);
    };
    DirectoryError err;
    const int total = int(m_plan.accounts.size());
    const bool noUserPath = m_mode == WriteMode::Update && m_settings.userPath.isEmpty();
    std::unique_ptr<DirectoryAccess> directory = noUserPath ? nullptr : m_opener(err);
    if (noUserPath) {
        // Every home would become the bare logon name: write nothing.
        logLine(printable(m_plan.ou) + QStringLiteral(" Update Failed: the User Folder Path setting is empty"));
        m_errors = qMax(1, total);
    } else if (!directory) {
        logLine(printable(m_plan.ou) + QStringLiteral(" Update Failed: ") + printable(err.text));
        m_errors = qMax(1, total);
    } else {
        for (const PlanFailure& f : m_plan.failures) {
            logLine(printable(f.dn) + QStringLiteral(" Update Failed: ") + printable(f.text));
            ++m_errors;
        }
        UndoFile undo(QDateTime::currentDateTime());
        if (undo.isOpen())
            m_undoFile = undo.fileName();
        for (int i = 0; i < total; ++i) {
            const PlannedAccount& a = m_plan.accounts[i];
            if (updateUser(*directory, a, m_settings, &undo, m_mode, log).failed())
                ++m_errors;
            emit progress(i + 1, total, unsafeAccountName(a.sam).isEmpty() ? a.sam : printable(a.dn));
        }
        if (m_mode == WriteMode::Update)
            reportLateAccounts(*directory);
    }
    m_running = false;
    emit finished(m_errors);
    return m_errors;
}

// Accounts that appeared after the plan was taken are left alone: the operator
// confirmed the plan, not them. The log names each one.
QSet<QString> HomePathUpdateJob::plannedKeys() const
{
    QSet<QString> keys;
    for (const PlannedAccount& a : m_plan.accounts)
        keys.insert(keyOf(a.dn));
    return keys;
}

// The account is a failure of the plan, or lies below one (a container that
// could not be listed): the log says so already.
bool HomePathUpdateJob::toldByFailure(const QString& dn) const
{
    const QString key = keyOf(dn);
    return std::ranges::any_of(m_plan.failures, [&key](const PlanFailure& f) {
        const QString failed = keyOf(f.dn);
        return key == failed || key.endsWith(QLatin1Char(',') + failed);
    });
}

void HomePathUpdateJob::reportLateAccounts(DirectoryAccess& directory)
{
    const QSet<QString> planned = plannedKeys();
    DirectoryError err;
    directory.search(
        m_plan.ou, m_plan.deep ? DirectoryScope::Subtree : DirectoryScope::OneLevel, DirectorySession::userFilter(), {},
        [&](const DirectoryEntry& e) {
            if (!planned.contains(keyOf(e.dn)) && !toldByFailure(e.dn))
                logLine(printable(e.dn) + QStringLiteral(" Not Updated: added after the plan was taken"));
            return true;
        },
        err);
}

void HomePathUpdateJob::start()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
    m_running = true;
    m_thread = QThread::create([this] { run(); });
    m_thread->start();
}
