#include "PermissionFixer.h"

#include "HomePath.h"
#include "common/modMain.h"
#include "smbacl/GrantPool.h"

#include <QStringList>

namespace {

// The tool's own words, on one line, for the log.
QString toolMessage(const modMain::ShellResult& r)
{
    if (!r.started)
        return QStringLiteral("could not start ") + CaclsPermissionFixer::toolPath();
    QString text = r.output.simplified();
    if (r.crashed)
        return QStringLiteral("the tool crashed") + (text.isEmpty() ? QString() : QStringLiteral(": ") + text);
    if (text.isEmpty())
        text = QStringLiteral("exit code %1").arg(r.exitCode);
    return text;
}

bool runTool(const QString& folder, const QString& account, QStringList& messages)
{
    // An argument vector: blanks, quotes and ";" in the path or the group name
    // reach the tool as part of one argument each.
    const modMain::ShellResult r =
        modMain::ShellWaitFor(CaclsPermissionFixer::toolPath(),
                              {folder, QStringLiteral("/e"), QStringLiteral("/g"), account + QStringLiteral(":F")}, 0);
    if (r.started && !r.crashed && r.exitCode == 0)
        return true;
    messages << toolMessage(r);
    return false;
}

} // namespace

QString CaclsPermissionFixer::toolPath()
{
    return modMain::ApplicationFolder() + QStringLiteral("/resources/cacls");
}

PermissionFixer::Result CaclsPermissionFixer::fix(const QString& account, const QString& adminGroup,
                                                  const QString& folder)
{
    QStringList messages;
    const bool userOk = runTool(folder, account, messages);
    const bool groupOk = runTool(folder, adminGroup, messages);
    return {userOk && groupOk, messages.join(QStringLiteral("; "))};
}

struct PooledPermissionFixer::Impl {
    CaclsPermissionFixer tool;
    std::unique_ptr<smbacl::GrantPool> pool; // made on the first network folder
    bool noticeTaken = false;
};

PooledPermissionFixer::PooledPermissionFixer()
    : d(std::make_unique<Impl>())
{}

PooledPermissionFixer::~PooledPermissionFixer() = default;

QString PooledPermissionFixer::helperPath()
{
    return modMain::ApplicationFolder() + QStringLiteral("/resources/corvane-smbacl");
}

QString PooledPermissionFixer::takeNotice()
{
    const QString reason = fallbackReason();
    if (reason.isEmpty() || d->noticeTaken)
        return {};
    d->noticeTaken = true;
    return QStringLiteral("network home folders are fixed with smbcacls, one account at a time, because the "
                          "permission helper could not be used: ") +
           reason;
}

QString PooledPermissionFixer::fallbackReason() const
{
    return d->pool ? QString::fromStdString(d->pool->fallbackReason()) : QString();
}

PermissionFixer::Result PooledPermissionFixer::fix(const QString& account, const QString& adminGroup,
                                                   const QString& folder)
{
    return fixGrant({account, {}, adminGroup, {}, folder});
}

QList<PermissionFixer::Result> PermissionFixer::fixAll(const QList<Grant>& grants)
{
    QList<Result> results;
    for (const Grant& grant : grants)
        results << fixGrant(grant);
    return results;
}

namespace {

smbacl::GrantRequest requestOf(const PermissionFixer::Grant& grant)
{
    return {grant.folder.toStdString(),
            {{grant.account.toStdString(), grant.accountSid.toStdString()},
             {grant.adminGroup.toStdString(), grant.adminSid.toStdString()}}};
}

} // namespace

bool PooledPermissionFixer::byHelper(const Grant& grant)
{
    // Without both SIDs the helper would have to look names up, which it does not do.
    if (!HomePath::isUnc(grant.folder) || grant.accountSid.isEmpty() || grant.adminSid.isEmpty())
        return false;
    if (!d->pool) {
        smbacl::PoolOptions options;
        options.helper = helperPath().toStdString();
        d->pool = std::make_unique<smbacl::GrantPool>(std::move(options));
    }
    // Once the helper could not start, today's path: the tool, one run per account.
    return d->pool->fallbackReason().empty();
}

PermissionFixer::Result PooledPermissionFixer::outcomeOf(const Grant& grant, const smbacl::GrantOutcome& done)
{
    // The helper did not start and the pool granted with smbcacls; from now on the
    // tool's way, and a failure is told in the tool's words (the grant is safe to repeat).
    if (done.bySmbcacls && !done.ok && !d->pool->fallbackReason().empty())
        return d->tool.fix(grant.account, grant.adminGroup, grant.folder);
    return {done.ok, done.ok ? QString() : QString::fromStdString(done.message)};
}

PermissionFixer::Result PooledPermissionFixer::fixGrant(const Grant& grant)
{
    return fixAll({grant}).value(0);
}

QList<PermissionFixer::Result> PooledPermissionFixer::fixAll(const QList<Grant>& grants)
{
    QList<Result> results(grants.size());
    std::vector<qsizetype> byTicket; // the grant of each ticket of this call
    std::size_t firstTicket = 0;
    for (qsizetype i = 0; i < grants.size(); ++i) {
        if (!byHelper(grants[i]))
            continue;
        results[i] = {false, QStringLiteral("the permission helper gave no answer for ") + grants[i].folder};
        const std::size_t ticket = d->pool->submit(requestOf(grants[i]));
        if (byTicket.empty())
            firstTicket = ticket;
        byTicket.push_back(i);
    }
    for (std::size_t n = 0; n < byTicket.size(); ++n) {
        const auto done = d->pool->next();
        if (!done)
            break;
        const qsizetype i = byTicket.at(done->first - firstTicket);
        results[i] = outcomeOf(grants[i], done->second);
    }
    std::vector<bool> sent(std::size_t(grants.size()), false);
    for (const qsizetype i : byTicket)
        sent[std::size_t(i)] = true;
    for (qsizetype i = 0; i < grants.size(); ++i)
        if (!sent[std::size_t(i)])
            results[i] = d->tool.fix(grants[i].account, grants[i].adminGroup, grants[i].folder);
    return results;
}

std::unique_ptr<PermissionFixer> makeDefaultPermissionFixer()
{
    return std::make_unique<PooledPermissionFixer>();
}
