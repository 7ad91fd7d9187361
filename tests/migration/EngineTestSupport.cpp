#include "EngineTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace fileop;

template <typename T, typename Log, typename Item>
T ScriptedQuestions::next(Log& log, const Item& item, const std::vector<T>& script, T fallback)
{
    std::lock_guard lock(m_mutex);
    if (onQuestion)
        onQuestion();
    const auto n = static_cast<size_t>(log.size());
    log.push_back(item);
    if (n < script.size())
        return script[n];
    ADD_FAILURE() << "unexpected question number " << n + 1;
    return fallback;
}

ReplaceAnswer ScriptedQuestions::askReplace(const Conflict& conflict)
{
    return next(conflicts, conflict, replaceAnswers, ReplaceAnswer::Cancel);
}

bool ScriptedQuestions::askCreateFolder(const QString& path)
{
    return next(createAsked, path, createAnswers, false);
}

ErrorAnswer ScriptedQuestions::askError(const FileError& error)
{
    return next(errors, error, errorAnswers, ErrorAnswer::Cancel);
}

TempTree::TempTree()
{
    EXPECT_TRUE(m_dir.isValid());
    // Reachable by an unprivileged child process in the permission tests.
    QFile::setPermissions(m_dir.path(), QFileDevice::Permissions(0x7777));
}

QString TempTree::path(const QString& rel) const
{
    return rel.isEmpty() ? m_dir.path() : m_dir.path() + u'/' + rel;
}

void TempTree::write(const QString& rel, const QByteArray& content) const
{
    QDir().mkpath(QFileInfo(path(rel)).path());
    QFile f(path(rel));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(content) == content.size()) << rel.toStdString();
}

QByteArray TempTree::read(const QString& rel) const
{
    QFile f(path(rel));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

bool TempTree::exists(const QString& rel) const
{
    return QFileInfo::exists(path(rel)) || QFileInfo(path(rel)).isSymLink();
}

QStringList TempTree::files(const QString& rel) const
{
    QStringList out;
    QDirIterator it(path(rel), QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(path(rel)).relativeFilePath(it.next());
    out.sort();
    return out;
}
