#include "PermissionFixer.h"

#include "HomePath.h"
#include "common/modMain.h"
#include "smbacl/PermissionBatch.h"

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
    std::unique_ptr<smbacl::PermissionBatch> batch; // made on the first fix; its helpers on the first network folder
    bool noticeTaken = false;

    smbacl::PermissionBatch& grants()
    {
        if (!batch) {
            smbacl::BatchOptions options;
            options.tool = CaclsPermissionFixer::toolPath().toStdString();
            options.smb.helper = PooledPermissionFixer::helperPath().toStdString();
            // Told exactly as a run of the tool on this thread tells it.
            options.describe = [](const cacls::ChildResult& run) {
                return toolMessage({run.started, run.exitCode, run.started && run.exitCode < 0,
                                    QString::fromLocal8Bit(run.out)})
                    .toStdString();
            };
            batch = std::make_unique<smbacl::PermissionBatch>(std::move(options));
        }
        return *batch;
    }
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
    return d->batch ? QString::fromStdString(d->batch->smbFallbackReason()) : QString();
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

bool PooledPermissionFixer::byBatch(const Grant& grant)
{
    // Local folders: the tool, several accounts at a time.
    if (!HomePath::isUnc(grant.folder))
        return true;
    // Without both SIDs the helper would have to look names up, which it does not do.
    if (grant.accountSid.isEmpty() || grant.adminSid.isEmpty())
        return false;
    // Once the helper could not start, today's path: the tool, one run per account.
    return d->grants().smbFallbackReason().empty();
}

PermissionFixer::Result PooledPermissionFixer::outcomeOf(const Grant& grant, const smbacl::GrantOutcome& done)
{
    // The helper did not start and the pool granted with smbcacls; from now on the
    // tool's way, and a failure is told in the tool's words (the grant is safe to repeat).
    if (done.bySmbcacls && !done.ok && !d->batch->smbFallbackReason().empty())
        return d->tool.fix(grant.account, grant.adminGroup, grant.folder);
    return {done.ok, done.ok ? QString() : QString::fromStdString(done.message)};
}

void PooledPermissionFixer::prepare(const QStringList& folders)
{
    QStringList network;
    for (const QString& folder : folders)
        if (HomePath::isUnc(folder))
            network << folder;
    if (!network.isEmpty())
        d->grants().pool().prestart(std::size_t(network.size()), network.first().toStdString());
}

void PooledPermissionFixer::begin(const Grant& grant)
{
    if (HomePath::isUnc(grant.folder) && byBatch(grant))
        d->grants().submitEarly(requestOf(grant));
}

PermissionFixer::Result PooledPermissionFixer::fixGrant(const Grant& grant)
{
    return fixAll({grant}).value(0);
}

QList<PermissionFixer::Result> PooledPermissionFixer::fixAll(const QList<Grant>& grants)
{
    QList<Result> results(grants.size());
    std::vector<smbacl::GrantRequest> requests;
    std::vector<qsizetype> sent; // the grant of each request
    for (qsizetype i = 0; i < grants.size(); ++i) {
        // One sent early stays with the helpers even if they failed meanwhile: the pool
        // finishes it (by smbcacls if need be), so no folder is granted twice.
        if (d->grants().submittedEarly(requestOf(grants[i])) || byBatch(grants[i])) {
            requests.push_back(requestOf(grants[i]));
            sent.push_back(i);
        }
    }
    if (!requests.empty()) {
        const std::vector<smbacl::GrantOutcome> outcomes = d->grants().fixAll(requests);
        for (std::size_t n = 0; n < sent.size(); ++n)
            results[sent[n]] = outcomeOf(grants[sent[n]], outcomes[n]);
    }
    for (qsizetype i = 0, n = 0; i < grants.size(); ++i) {
        if (n < qsizetype(sent.size()) && sent[std::size_t(n)] == i)
            ++n;
        else
            results[i] = d->tool.fix(grants[i].account, grants[i].adminGroup, grants[i].folder);
    }
    return results;
}

std::unique_ptr<PermissionFixer> makeDefaultPermissionFixer()
{
    return std::make_unique<PooledPermissionFixer>();
}
