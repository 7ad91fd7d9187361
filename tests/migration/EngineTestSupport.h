#pragma once

#include "migration/fileop/FileOperation.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Answers the engine's questions from scripts and records them. A question
// beyond its script, or any error prompt, fails the test and answers No / Cancel.
class ScriptedQuestions : public fileop::FileOpQuestions {
public:
    std::vector<fileop::ReplaceAnswer> replaceAnswers;
    std::vector<bool> createAnswers;
    std::function<void()> onQuestion; // runs before each answer (on the worker thread)
    std::vector<fileop::Conflict> conflicts;
    QStringList createAsked;

    fileop::ReplaceAnswer askReplace(const fileop::Conflict& c) override
    {
        return next(conflicts, c, replaceAnswers, fileop::ReplaceAnswer::Cancel);
    }
    bool askCreateFolder(const QString& path) override { return next(createAsked, path, createAnswers, false); }
    fileop::ErrorAnswer askError(const fileop::FileError&) override
    {
        ADD_FAILURE() << "unexpected error prompt";
        return fileop::ErrorAnswer::Cancel;
    }

private:
    template <typename T, typename Log, typename Item>
    T next(Log& log, const Item& item, const std::vector<T>& script, T fallback)
    {
        std::lock_guard lock(m_mutex);
        if (onQuestion)
            onQuestion();
        log.push_back(item);
        if (size_t(log.size()) <= script.size())
            return script[log.size() - 1];
        ADD_FAILURE() << "unexpected question number " << log.size();
        return fallback;
    }
    std::mutex m_mutex;
};

// The operator, with hooks that run on the worker thread before each answer;
// every error question is recorded.
class Operator : public fileop::FileOpQuestions {
public:
    std::function<fileop::ReplaceAnswer(const fileop::Conflict&)> onReplace = [](const fileop::Conflict&) {
        return fileop::ReplaceAnswer::YesToAll;
    };
    std::function<fileop::ErrorAnswer(const fileop::FileError&)> onError = [](const fileop::FileError&) {
        return fileop::ErrorAnswer::Skip;
    };
    std::vector<fileop::FileError> errors;

    fileop::ReplaceAnswer askReplace(const fileop::Conflict& c) override { return onReplace(c); }
    bool askCreateFolder(const QString&) override { return true; }
    fileop::ErrorAnswer askError(const fileop::FileError& e) override
    {
        errors.push_back(e);
        return onError(e);
    }
};

// A mount for one test, taken down however the test ends; ok() is false
// where mounting is not allowed.
class Mount {
public:
    Mount(const QString& path, const QByteArray& source, const char* type, unsigned long flags,
          const char* data = nullptr)
        : m_path(path.toLocal8Bit())
    {
        QDir().mkpath(path);
        m_ok = ::mount(source.constData(), m_path.constData(), type, flags, data) == 0;
    }
    ~Mount()
    {
        if (m_ok)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
    bool ok() const { return m_ok; }

private:
    QByteArray m_path;
    bool m_ok = false;
};

// A second file system for moves that copy.
class Tmpfs : public Mount {
public:
    explicit Tmpfs(const QString& path)
        : Mount(path, "corvane-test", "tmpfs", 0, "size=64m")
    {}
};

// A temporary folder with helpers that name paths relative to it. Open to
// all, so an unprivileged child process can reach it in the permission tests.
class TempTree {
public:
    TempTree() { QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777)); }
    QString path(const QString& rel = {}) const { return rel.isEmpty() ? m_dir.path() : m_dir.path() + u'/' + rel; }
    QByteArray bytes(const QString& rel) const { return path(rel).toLocal8Bit(); }
    void write(const QString& rel, const QByteArray& content) const
    {
        QDir().mkpath(QFileInfo(path(rel)).path());
        QFile f(path(rel));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(content) == content.size()) << rel.toStdString();
    }
    // count small files f0, f1, ... in folder rel, each holding its own path.
    void writeMany(const QString& rel, int count) const
    {
        QDir().mkpath(path(rel));
        for (int i = 0; i < count; ++i) {
            const QByteArray name = bytes(rel) + "/f" + QByteArray::number(i);
            const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
            ASSERT_TRUE(fd >= 0 && ::write(fd, name.constData(), size_t(name.size())) == name.size()) << i;
            ::close(fd);
        }
    }
    QByteArray read(const QString& rel) const
    {
        QFile f(path(rel));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    // Sets both times of rel (not following a link) to sec.nsec.
    void setMtime(const QString& rel, time_t sec, long nsec) const
    {
        const timespec times[2] = {{sec, nsec}, {sec, nsec}};
        ASSERT_EQ(::utimensat(AT_FDCWD, bytes(rel).constData(), times, AT_SYMLINK_NOFOLLOW), 0) << rel.toStdString();
    }
    struct stat lstat(const QString& rel) const
    {
        struct stat st {};
        EXPECT_EQ(::lstat(bytes(rel).constData(), &st), 0) << rel.toStdString();
        return st;
    }
    bool exists(const QString& rel) const { return QFileInfo(path(rel)).exists() || QFileInfo(path(rel)).isSymLink(); }
    // Every file below rel (relative paths, sorted), links and folders excluded.
    QStringList files(const QString& rel) const
    {
        QStringList out;
        QDirIterator it(path(rel), QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            out << QDir(path(rel)).relativeFilePath(it.next());
        out.sort();
        return out;
    }

private:
    QTemporaryDir m_dir;
};

// corvane-fileop run to its end with no terminal on standard input.
struct CliRun {
    int exitCode = -1;
    QString err;
    // The exit status and the last line on standard error.
    QString summary() const { return QString::number(exitCode) + ", " + err.trimmed().section(u'\n', -1); }
};

// prefix wraps the program (setpriv, prlimit); namedTemp forces the
// temporary-name path used where O_TMPFILE is missing.
inline CliRun runCli(const QStringList& args, QStringList prefix = {}, bool namedTemp = false, QString* out = nullptr,
                     const QString& workDir = QString())
{
    prefix << QStringLiteral(CORVANE_APP_DIR "/corvane-fileop") << args;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (namedTemp)
        env.insert(QStringLiteral("CORVANE_FILEOP_NO_TMPFILE"), QStringLiteral("1"));
    p.setProcessEnvironment(env);
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.setStandardInputFile(QProcess::nullDevice()); // not a terminal
    p.start(prefix.takeFirst(), prefix);
    EXPECT_TRUE(p.waitForFinished(30000));
    if (out)
        *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2,
            QString::fromLocal8Bit(p.readAllStandardError())};
}
