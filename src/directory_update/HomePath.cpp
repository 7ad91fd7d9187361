#include "HomePath.h"

#include "common/modMain.h"

namespace HomePath {
namespace {

bool isDotName(const QString& part)
{
    return part == QLatin1String(".") || part == QLatin1String("..");
}

std::optional<Unc> fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

} // namespace

bool isUnc(const QString& path)
{
    return path.startsWith(QLatin1String("\\\\"));
}

bool hasControls(const QString& text)
{
    // The log writer escapes exactly these; a backslash it leaves alone.
    return modMain::EscapeControls(text) != text;
}

std::optional<Unc> parseUnc(const QString& path, QString* error)
{
    if (!isUnc(path))
        return fail(error, QStringLiteral("a network path starts with \\\\"));
    if (hasControls(path))
        return fail(error, QStringLiteral("the path holds a control character"));
    if (path.contains(u'/'))
        return fail(error, QStringLiteral("a network path is written with backslashes only"));
    QStringList parts = path.mid(2).split(u'\\');
    if (parts.size() > 1 && parts.last().isEmpty())
        parts.removeLast(); // the trailing separator of a folder path
    if (parts.size() < 2 || parts[0].isEmpty() || parts[1].isEmpty())
        return fail(error, QStringLiteral("a network path is written \\\\server\\share\\folder\\"));
    for (const QString& part : std::as_const(parts)) {
        if (part.isEmpty())
            return fail(error, QStringLiteral("the path holds an empty folder name (\\\\ inside it)"));
        if (isDotName(part))
            return fail(error, QStringLiteral("the path must not contain \".\" or \"..\""));
    }
    return Unc{parts[0], parts[1], parts.mid(2)};
}

QString userPathProblem(const QString& userPath)
{
    if (userPath.isEmpty())
        return QStringLiteral("the user path is empty");
    if (hasControls(userPath))
        return QStringLiteral("the user path holds a control character");
    if (isUnc(userPath)) {
        QString why;
        if (!parseUnc(userPath, &why))
            return QStringLiteral("the user path is not a sound network path: ") + why;
        if (!userPath.endsWith(u'\\'))
            return QStringLiteral("the user path must end with \\, or each logon name is glued to its last folder's "
                                  "name");
    } else if (userPath.startsWith(u'/')) {
        for (const QString& part : userPath.split(u'/'))
            if (isDotName(part))
                return QStringLiteral("the user path must not contain \".\" or \"..\"");
        if (!userPath.endsWith(u'/'))
            return QStringLiteral("the user path must end with /, or each logon name is glued to its last folder's "
                                  "name");
    } else {
        return QStringLiteral("the user path must be a network path (\\\\server\\share\\folder\\) or an absolute "
                              "local path (/srv/homes/)");
    }
    if (userPath.size() >= kMaxLength)
        return QStringLiteral("the user path is %1 characters long; a home path can be at most %2")
            .arg(userPath.size())
            .arg(kMaxLength);
    return {};
}

QString homePathProblem(const QString& homePath)
{
    if (homePath.size() > kMaxLength)
        return QStringLiteral("the home path would be %1 characters long; at most %2 can be mapped")
            .arg(homePath.size())
            .arg(kMaxLength);
    return {};
}

} // namespace HomePath
