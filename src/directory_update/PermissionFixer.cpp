#include "PermissionFixer.h"

#include "common/modMain.h"

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

std::unique_ptr<PermissionFixer> makeDefaultPermissionFixer()
{
    return std::make_unique<CaclsPermissionFixer>();
}
