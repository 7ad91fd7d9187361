// The home-path update of one OU as a job: plan, folder check, run and undo, apart from any window.
#include "HomePathUpdateJob.h"

#include "directory_update/FixBatches.h"
#include "directory_update/HomeFolderCheck.h"
#include "directory_update/HomePath.h"

#include <algorithm>

#include <QDateTime>
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

// LDAP's "parameter error": the request was refused before it reached the server.
constexpr int kParamError = 89;

// DNs as the server writes them differ from one another only in case.
QString keyOf(const QString& dn)
{
    return dn.toLower();
}

PlannedAccount accountOf(const DirectoryEntry& e, const QString& userPath)
{
    PlannedAccount a = planAccount(e.dn, e.value(QStringLiteral("sAMAccountName")),
                                   e.value(QStringLiteral("homeDirectory")), userPath);
    a.sid = e.value(QStringLiteral("objectSid"));
    return a;
}

FolderState stateOf(HomeFolderCheck::State s)
{
    switch (s) {
    case HomeFolderCheck::State::Exists:
        return FolderState::Exists;
    case HomeFolderCheck::State::Missing:
        return FolderState::Missing;
    case HomeFolderCheck::State::NotAFolder:
        return FolderState::NotAFolder;
    case HomeFolderCheck::State::NotChecked:
        break;
    }
    return FolderState::NotChecked;
}

} // namespace

HomePathUpdateJob::HomePathUpdateJob(DirectoryOpener opener, QObject* parent)
    : QObject(parent)
    , m_opener(std::move(opener))
    , m_fixer(makeDefaultPermissionFixer())
{}

HomePathUpdateJob::~HomePathUpdateJob()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

void HomePathUpdateJob::setState(State state)
{
    m_state = state;
    emit stateChanged(state);
}

// One step on a thread of its own; stateChanged() reaches the caller's thread queued.
void HomePathUpdateJob::inThread(std::function<void()> work)
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
    m_thread = QThread::create(std::move(work));
    m_thread->start();
}

bool HomePathUpdateJob::plan(const QString& ou, bool deep, const QString& userPath, DirectoryError& err)
{
    setState(State::Planning);
    m_plan = {ou, deep, {}, {}, {}};
    m_settings.userPath = userPath;
    m_foldersChecked = false;
    m_error.clear();
    const auto failed = [this, &err] {
        m_error = err.text;
        setState(State::Failed);
        return false;
    };
    // Checked once, here, before anything can be written: every account's path is built from it.
    if (const QString problem = HomePath::userPathProblem(userPath); !problem.isEmpty()) {
        err = {kParamError, problem, QStringLiteral("UserPath")};
        return failed();
    }
    auto directory = m_opener(err);
    if (!directory)
        return failed();
    DirectoryError domainErr;
    m_plan.domain = directory->netbiosDomain(domainErr);
    m_domainError = domainErr.text;
    // First every account the count sees, whatever container holds it ...
    QList<DirectoryEntry> found;
    if (!directory->search(
            ou, deep ? DirectoryScope::Subtree : DirectoryScope::OneLevel, DirectorySession::userFilter(),
            userAttributes(), [&found](const DirectoryEntry& e) { return found.append(e), true; }, err))
        return failed();
    if (!deep) {
        for (const DirectoryEntry& e : found)
            m_plan.accounts.append(accountOf(e, userPath));
        setState(State::Planned);
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
    setState(State::Planned);
    return true;
}

void HomePathUpdateJob::startPlan(const QString& ou, bool deep, const QString& userPath)
{
    m_state = State::Planning;
    inThread([this, ou, deep, userPath] {
        DirectoryError err;
        plan(ou, deep, userPath, err);
    });
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
    m_foldersChecked = false;
    m_state = State::Planned;
}

void HomePathUpdateJob::setSettings(const Settings& settings)
{
    m_settings = settings;
    if (m_mode != WriteMode::Update)
        return;
    for (PlannedAccount& a : m_plan.accounts) {
        PlannedAccount fresh = planAccount(a.dn, a.sam, a.currentHome, settings.userPath);
        fresh.sid = a.sid;
        if (fresh.newHome != a.newHome) {
            m_foldersChecked = false; // another folder now: look again
        } else {
            fresh.folder = a.folder;
            fresh.folderText = a.folderText;
        }
        a = fresh;
    }
}

bool HomePathUpdateJob::checkFolders()
{
    const State before = m_state;
    setState(State::CheckingFolders);
    QStringList paths;
    QList<qsizetype> rows;
    for (qsizetype i = 0; i < m_plan.accounts.size(); ++i) {
        if (m_plan.accounts[i].problem.isEmpty()) {
            paths << m_plan.accounts[i].newHome;
            rows << i;
        }
    }
    const QList<HomeFolderCheck::Result> results = HomeFolderCheck::check(paths);
    m_folderCheckError.clear();
    for (qsizetype n = 0; n < rows.size(); ++n) {
        PlannedAccount& a = m_plan.accounts[rows[n]];
        a.folder = stateOf(results[n].state);
        a.folderText = results[n].text;
        if (a.folder == FolderState::NotChecked && m_folderCheckError.isEmpty())
            m_folderCheckError = results[n].text.mid(QStringLiteral("not checked: ").size()) + QStringLiteral(" (") +
                                 printable(a.newHome) + u')';
    }
    m_foldersChecked = true;
    setState(before == State::Idle ? State::Planned : before);
    return m_folderCheckError.isEmpty();
}

void HomePathUpdateJob::startFolderCheck()
{
    const State before = m_state;
    m_state = State::CheckingFolders;
    inThread([this, before] {
        m_state = before;
        checkFolders();
    });
}

int HomePathUpdateJob::missingFolders() const
{
    return int(std::ranges::count_if(m_plan.accounts, [](const PlannedAccount& a) {
        return a.problem.isEmpty() && a.folder == FolderState::Missing;
    }));
}

void HomePathUpdateJob::requestStop(const char* why) noexcept
{
    m_stopReason = why;
    m_stop = true;
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

// Why this run must write nothing at all, or "".
QString HomePathUpdateJob::refusal()
{
    if (m_mode != WriteMode::Update)
        return {};
    if (const QString problem = HomePath::userPathProblem(m_settings.userPath); !problem.isEmpty())
        return problem;
    if (m_settings.fixPermissions && m_settings.admGrp.isEmpty())
        return QStringLiteral("the Admin Group setting is empty, and the permission fix grants to it");
    // A bare name could be granted to a local namesake instead of the domain's account.
    if (m_settings.fixPermissions && m_plan.domain.isEmpty())
        return QStringLiteral("the directory's NetBIOS domain name, which the permission fix needs, could not be "
                              "read: ") +
               m_domainError;
    if (!m_skipFolderCheck && !m_foldersChecked)
        checkFolders();
    if (!m_skipFolderCheck && !m_folderCheckError.isEmpty())
        return QStringLiteral("the home folders could not be checked: ") + m_folderCheckError;
    return {};
}

int HomePathUpdateJob::run()
{
    setState(State::Running);
    m_summary = {};
    m_summary.restore = m_mode != WriteMode::Update;
    m_summary.containers = int(m_plan.failures.size());
    m_undoFile.clear();
    m_logFailure = {};
    m_error.clear();
    m_stop = false;
    const int total = int(m_plan.accounts.size());
    // Nothing is written when a rule of the whole run is broken.
    m_summary.refused = refusal();
    DirectoryError err;
    std::unique_ptr<DirectoryAccess> directory = m_summary.refused.isEmpty() ? m_opener(err) : nullptr;
    if (m_summary.refused.isEmpty() && !directory)
        m_summary.refused = err.text;
    if (!m_summary.refused.isEmpty()) {
        m_summary.containers = 0;
        m_summary.addNotWritten(QStringLiteral("refused"), total);
        m_error = m_summary.refused;
        logLine(printable(m_plan.ou) + QStringLiteral(" Update Failed: ") + printable(m_summary.refused) +
                QStringLiteral("; nothing was written"));
        finishRun();
        return m_summary.failures();
    }
    for (const PlanFailure& f : m_plan.failures)
        logLine(printable(f.dn) + QStringLiteral(" Update Failed: ") + printable(f.text));
    UndoFile undo(QDateTime::currentDateTime(), m_plan.ou);
    if (undo.isOpen())
        m_undoFile = undo.fileName();
    const QString adminSid = prepareFixer(*directory);
    const auto log = [this](const QString& line) {
        logLine(line);
    };
    UserContext context{*directory,      m_settings,    m_plan.domain, &undo,   m_mode,
                        m_createMissing, m_fixer.get(), log,           adminSid};
    // The fixes of several accounts are made at once (the fixer bounds how many
    // run side by side); an account is counted and reported once its fix is done.
    FixBatches fixes(m_fixer.get(), log, [this](const QString& notice) {
        logLine(printable(m_plan.ou) + QStringLiteral(" Permission Fix: ") + printable(notice));
    });
    context.deferredFixes = fixes.queue();
    const auto report = [&](const QList<std::pair<int, UserOutcome>>& done) {
        for (const auto& [index, outcome] : done) {
            const PlannedAccount& a = m_plan.accounts[index];
            m_summary.add(outcome);
            emit progress(index + 1, total, unsafeAccountName(a.sam).isEmpty() ? a.sam : printable(a.dn));
        }
    };
    int done = 0;
    for (; done < total && !m_stop; ++done) {
        const qsizetype before = fixes.queue()->size();
        UserOutcome outcome = updateUser(m_plan.accounts[done], context);
        fixes.add(done, std::move(outcome), fixes.queue()->size() > before);
        if (fixes.due())
            report(fixes.flush());
    }
    report(fixes.flush()); // a stop still fixes and reports every account already written
    if (m_stop) {
        m_summary.stoppedBy = QString::fromLatin1(m_stopReason.load() ? m_stopReason.load() : "request");
        m_summary.addNotWritten(QStringLiteral("not reached"), total - done);
        logLine(printable(m_plan.ou) +
                QStringLiteral(" Stopped by %1 after %2 of %3 accounts; the log and the undo file cover every account "
                               "written")
                    .arg(m_summary.stoppedBy)
                    .arg(done)
                    .arg(total));
    } else if (m_mode == WriteMode::Update) {
        reportLateAccounts(*directory);
    }
    // The undo file of a run that wrote nothing would only mislead.
    if (m_summary.written == 0 && undo.isOpen()) {
        QFile::remove(m_undoFile);
        m_undoFile.clear();
    }
    finishRun();
    return m_summary.failures();
}

QString HomePathUpdateJob::prepareFixer(DirectoryAccess& directory)
{
    if (!m_settings.fixPermissions || !m_fixer)
        return {};
    // Only the group's own name is looked up: "SCHOOL\Domain Admins" names it in this domain.
    const QString group = m_settings.admGrp.mid(m_settings.admGrp.lastIndexOf(u'\\') + 1);
    DirectoryError sidErr;
    const QString adminSid = directory.accountSid(group, sidErr);
    // The fixer gets ready (its helpers start) while the first accounts are written:
    // for the folders this run will fix, if any (a restore fixes none).
    QStringList folders;
    for (const PlannedAccount& a : std::as_const(m_plan.accounts)) {
        const bool ready = a.folder == FolderState::Exists || a.folder == FolderState::Unchecked ||
                           (a.folder == FolderState::Missing && m_createMissing);
        if (m_mode == WriteMode::Update && ready && a.problem.isEmpty() && !a.sid.isEmpty() && !adminSid.isEmpty())
            folders << a.newHome;
    }
    m_fixer->prepare(folders);
    return adminSid;
}

void HomePathUpdateJob::finishRun()
{
    logLine(printable(m_plan.ou) + QStringLiteral(" Summary: ") + m_summary.text());
    setState(m_summary.refused.isEmpty() ? State::Done : State::Failed);
    emit finished(m_summary.failures());
}

void HomePathUpdateJob::start()
{
    m_state = State::Running;
    inThread([this] { run(); });
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
