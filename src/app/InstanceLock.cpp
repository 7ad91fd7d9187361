#include "InstanceLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A folder only this user can use: a shared /tmp must not let another user
// plant or hold our lock.
bool privateFolder(const QString& path)
{
    struct stat st {};
    const QByteArray p = QFile::encodeName(path);
    if (::lstat(p.constData(), &st) != 0) {
        if (errno != ENOENT || ::mkdir(p.constData(), 0700) != 0)
            return false;
        if (::lstat(p.constData(), &st) != 0)
            return false;
    }
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

QString runtimeFolder()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && privateFolder(xdg))
        return xdg;
    const QString fallback = QDir::tempPath() + QStringLiteral("/corvane-runtime-%1").arg(::getuid());
    return privateFolder(fallback) ? fallback : QString();
}

} // namespace

InstanceLock::~InstanceLock()
{
    release();
}

QString InstanceLock::lockFileFor(const QString& applicationFolder)
{
    const QString runtime = runtimeFolder();
    if (runtime.isEmpty())
        return QString();
    QString folder = QFileInfo(applicationFolder).canonicalFilePath();
    if (folder.isEmpty())
        folder = QDir::cleanPath(QDir(applicationFolder).absolutePath());
    const QByteArray key = QCryptographicHash::hash(folder.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return runtime + QStringLiteral("/corvane-") + QString::fromLatin1(key) + QStringLiteral(".lock");
}

InstanceLock::Result InstanceLock::tryAcquire(const QString& applicationFolder)
{
    if (m_fd >= 0)
        return Result::Acquired;
    const QString path = lockFileFor(applicationFolder);
    if (path.isEmpty())
        return Result::Unavailable;
    // Close-on-exec: a tool we start must not keep the lock after we end.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Result::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        return err == EWOULDBLOCK ? Result::HeldElsewhere : Result::Unavailable;
    }
    // The holder's process id, for a person looking at the file; the lock itself is what counts.
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, pid.constData(), size_t(pid.size()));
    }
    m_fd = fd;
    return Result::Acquired;
}

void InstanceLock::release()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
