#include "HomeFolderCheck.h"

#include <QHash>
#include <QProcess>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace HomeFolderCheck {
namespace {

Result result(State state, const QString& text)
{
    return {state, text};
}

Result checkLocal(const QString& path)
{
    struct stat st {};
    // lstat: the permission fix never follows a link, so a link is not the user's folder.
    if (::lstat(path.toLocal8Bit().constData(), &st) != 0)
        return errno == ENOENT ? result(State::Missing, QStringLiteral("missing"))
                               : result(State::NotChecked,
                                        QStringLiteral("not checked: ") + QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISDIR(st.st_mode))
        return result(State::Exists, QStringLiteral("yes"));
    if (S_ISLNK(st.st_mode))
        return result(State::NotAFolder, QStringLiteral("not a folder: a symbolic link"));
    return result(State::NotAFolder, QStringLiteral("not a folder"));
}

// \\server\share\below\name -> "//server/share", "below", "name"; false when it names no folder below a share.
bool splitUnc(const QString& path, QString& share, QString& parent, QString& name)
{
    QStringList parts = path.mid(2).split(u'\\');
    if (parts.size() < 3 || parts.contains(QString()))
        return false;
    share = QStringLiteral("//") + parts[0] + u'/' + parts[1];
    name = parts.last();
    parent = parts.mid(2, parts.size() - 3).join(u'\\');
    return true;
}

struct Listing {
    bool ok = false;
    QString error;
    QHash<QString, bool> entries; // lower-case name -> is a folder
};

Listing listSmbFolder(const QString& share, const QString& parent)
{
    Listing out;
    QStringList args;
    const QString smbConf = qEnvironmentVariable("SMB_CONF_PATH");
    if (!smbConf.isEmpty())
        args << QStringLiteral("-s") << smbConf;
    // -N: never a password prompt; the ticket is all. The folder goes as its own argument, never into -c.
    args << QStringLiteral("--use-kerberos=required") << QStringLiteral("-N") << share;
    if (!parent.isEmpty())
        args << QStringLiteral("-D") << parent;
    args << QStringLiteral("-c") << QStringLiteral("ls");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("smbclient"), args, QIODevice::ReadOnly);
    if (!p.waitForStarted(10000)) {
        out.error = QStringLiteral("smbclient cannot be started");
        return out;
    }
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(1000);
        out.error = QStringLiteral("smbclient did not answer");
        return out;
    }
    const QString text = QString::fromLocal8Bit(p.readAll());
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QStringList lines = text.split(u'\n', Qt::SkipEmptyParts);
        out.error = lines.isEmpty() ? QStringLiteral("smbclient failed") : lines.last().trimmed();
        return out;
    }
    // "  name        D        0  Sun Dec  6 15:49:20 2026"
    static const QRegularExpression entry(
        QStringLiteral("^  (.+?)\\s+([A-Z]*)\\s+\\d+  \\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}$"));
    for (const QString& line : text.split(u'\n')) {
        const QRegularExpressionMatch m = entry.match(line);
        if (m.hasMatch())
            out.entries.insert(m.captured(1).toLower(), m.captured(2).contains(u'D'));
    }
    out.ok = true;
    return out;
}

} // namespace

QList<Result> check(const QStringList& paths)
{
    QList<Result> out;
    QHash<QString, Listing> listings; // one per parent folder
    for (const QString& path : paths) {
        if (path.startsWith(u'/')) {
            out << checkLocal(path);
            continue;
        }
        QString share, parent, name;
        if (!path.startsWith(QLatin1String("\\\\")) || !splitUnc(path, share, parent, name)) {
            out << result(State::NotChecked, QStringLiteral("not checked: not a local or network path"));
            continue;
        }
        const QString key = share.toLower() + u'\\' + parent.toLower();
        if (!listings.contains(key))
            listings.insert(key, listSmbFolder(share, parent));
        const Listing& l = listings[key];
        if (!l.ok) {
            // The parent itself missing means every folder in it is missing too.
            if (l.error.contains(QLatin1String("NT_STATUS_OBJECT_NAME_NOT_FOUND")) ||
                l.error.contains(QLatin1String("NT_STATUS_OBJECT_PATH_NOT_FOUND")))
                out << result(State::Missing, QStringLiteral("missing"));
            else
                out << result(State::NotChecked, QStringLiteral("not checked: ") + l.error);
        } else if (!l.entries.contains(name.toLower())) {
            out << result(State::Missing, QStringLiteral("missing"));
        } else {
            out << (l.entries.value(name.toLower()) ? result(State::Exists, QStringLiteral("yes"))
                                                    : result(State::NotAFolder, QStringLiteral("not a folder")));
        }
    }
    return out;
}

} // namespace HomeFolderCheck
