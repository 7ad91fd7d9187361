#include "HomeFolderCheck.h"

#include "directory_update/HomePath.h"

#include "common/PosixHandles.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace HomeFolderCheck {
namespace {

Result result(State state, const QString& text)
{
    return {state, text};
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

Result checkLocal(const QString& path)
{
    struct stat st {};
    // lstat: the permission fix never follows a link, so a link is not the user's folder.
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT ? result(State::Missing, QStringLiteral("missing"))
                               : result(State::NotChecked, QStringLiteral("not checked: ") + errnoText(errno));
    if (S_ISDIR(st.st_mode))
        return result(State::Exists, QStringLiteral("yes"));
    if (S_ISLNK(st.st_mode))
        return result(State::NotAFolder, QStringLiteral("not a folder: a symbolic link"));
    return result(State::NotAFolder, QStringLiteral("not a folder"));
}

struct SmbRun {
    bool ok = false;
    QString output;
    QString error; // the last line of a failure
};

SmbRun runSmbClient(const QString& service, const QString& folder, const QString& command)
{
    SmbRun out;
    QStringList args = smbClientArguments(service);
    // The folder goes as its own argument, never into the command text.
    if (!folder.isEmpty())
        args << QStringLiteral("-D") << folder;
    args << QStringLiteral("-c") << command;
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
    out.output = QString::fromLocal8Bit(p.readAll());
    // smbclient may end a failed command with status 0: its NT_STATUS text tells.
    const bool failed = p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 ||
                        (command != QLatin1String("ls") && out.output.contains(QLatin1String("NT_STATUS_")));
    if (failed) {
        const QStringList lines = out.output.split(u'\n', Qt::SkipEmptyParts);
        out.error = lines.isEmpty() ? QStringLiteral("smbclient failed") : lines.last().trimmed();
        return out;
    }
    out.ok = true;
    return out;
}

struct Listing {
    bool ok = false;
    QString error;
    QHash<QString, bool> entries; // lower-case name -> is a folder
};

Listing listSmbFolder(const QString& service, const QString& parent)
{
    Listing out;
    const SmbRun run = runSmbClient(service, parent, QStringLiteral("ls"));
    if (!run.ok) {
        out.error = run.error;
        return out;
    }
    // "  name        D        0  Sun Dec  6 15:49:20 2026"
    static const QRegularExpression entry(
        QStringLiteral("^  (.+?)\\s+([A-Z]*)\\s+\\d+  \\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}$"));
    for (const QString& line : run.output.split(u'\n')) {
        const QRegularExpressionMatch m = entry.match(line);
        if (m.hasMatch())
            out.entries.insert(m.captured(1).toLower(), m.captured(2).contains(u'D'));
    }
    out.ok = true;
    return out;
}

bool parentMissing(const QString& error)
{
    return error.contains(QLatin1String("NT_STATUS_OBJECT_NAME_NOT_FOUND")) ||
           error.contains(QLatin1String("NT_STATUS_OBJECT_PATH_NOT_FOUND"));
}

QString createLocal(const QString& path, const QString& owner)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString name = path.mid(slash + 1);
    if (slash < 0 || name.isEmpty())
        return QStringLiteral("not a folder path");
    const QByteArray parentPath = QFile::encodeName(slash == 0 ? QStringLiteral("/") : path.left(slash));
    const QByteArray nameBytes = QFile::encodeName(name);
    posix::UniqueFd parent(::open(parentPath.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid())
        return QStringLiteral("the folder above it cannot be opened: ") + errnoText(errno);
    if (::mkdirat(parent.get(), nameBytes.constData(), 0700) != 0)
        return errnoText(errno);
    // Reached again by descriptor without following a link: what is chowned is what was made.
    posix::UniqueFd made(
        ::openat(parent.get(), nameBytes.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!made.valid())
        return QStringLiteral("made, but it cannot be opened: ") + errnoText(errno);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    const QByteArray ownerName = owner.toUtf8();
    // Only the qualified name counts: a local namesake must not get the folder.
    if (::getpwnam_r(ownerName.constData(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        ::fchown(made.get(), found->pw_uid, found->pw_gid) != 0)
        return QStringLiteral("made, but it cannot be given to %1: %2").arg(owner, errnoText(errno));
    return {};
}

QString createSmb(const QString& path)
{
    QString why;
    const std::optional<HomePath::Unc> unc = HomePath::parseUnc(path, &why);
    if (!unc)
        return why;
    if (unc->below.isEmpty())
        return QStringLiteral("a share cannot be created");
    const QString name = unc->below.last();
    // smbclient splits its command text at ";" and reads quotes itself.
    if (name.contains(u';') || name.contains(u'"'))
        return QStringLiteral("a name holding ; or \" cannot be created through smbclient");
    const SmbRun run = runSmbClient(unc->service(), unc->below.mid(0, unc->below.size() - 1).join(u'\\'),
                                    QStringLiteral("mkdir \"%1\"").arg(name));
    return run.ok ? QString() : run.error;
}

} // namespace

QStringList smbClientArguments(const QString& service)
{
    QStringList args;
    const QString smbConf = qEnvironmentVariable("SMB_CONF_PATH");
    if (!smbConf.isEmpty())
        args << QStringLiteral("-s") << smbConf;
    args << QStringLiteral("--use-kerberos=required") << QStringLiteral("-N") << service;
    return args;
}

QList<Result> check(const QStringList& paths)
{
    QList<Result> out;
    QHash<QString, Listing> listings; // one per parent folder
    for (const QString& path : paths) {
        if (path.startsWith(u'/')) {
            out << checkLocal(path);
            continue;
        }
        const std::optional<HomePath::Unc> unc = HomePath::parseUnc(path);
        if (!unc || unc->below.isEmpty()) {
            out << result(State::NotChecked, QStringLiteral("not checked: not a local or network path"));
            continue;
        }
        const QString parent = unc->below.mid(0, unc->below.size() - 1).join(u'\\');
        const QString name = unc->below.last().toLower();
        const QString key = unc->service().toLower() + u'\\' + parent.toLower();
        if (!listings.contains(key))
            listings.insert(key, listSmbFolder(unc->service(), parent));
        const Listing& l = listings[key];
        if (!l.ok) {
            // The parent itself missing means every folder in it is missing too.
            out << (parentMissing(l.error) ? result(State::Missing, QStringLiteral("missing"))
                                           : result(State::NotChecked, QStringLiteral("not checked: ") + l.error));
        } else if (!l.entries.contains(name)) {
            out << result(State::Missing, QStringLiteral("missing"));
        } else {
            out << (l.entries.value(name) ? result(State::Exists, QStringLiteral("yes"))
                                          : result(State::NotAFolder, QStringLiteral("not a folder")));
        }
    }
    return out;
}

QString create(const QString& path, const QString& owner)
{
    return path.startsWith(u'/') ? createLocal(path, owner) : createSmb(path);
}

} // namespace HomeFolderCheck
