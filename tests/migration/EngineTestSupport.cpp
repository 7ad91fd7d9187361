#include "EngineTestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

using namespace fileop;

ReplaceAnswer ScriptedQuestions::askReplace(const Conflict& conflict)
{
    std::lock_guard lock(m_mutex);
    if (onQuestion)
        onQuestion();
    const size_t n = conflicts.size();
    conflicts.push_back(conflict);
    if (n >= replaceAnswers.size()) {
        ADD_FAILURE() << "unexpected replace question for " << conflict.target.toStdString();
        return ReplaceAnswer::Cancel;
    }
    return replaceAnswers[n];
}

bool ScriptedQuestions::askCreateFolder(const QString& path)
{
    std::lock_guard lock(m_mutex);
    if (onQuestion)
        onQuestion();
    const auto n = static_cast<size_t>(createAsked.size());
    createAsked << path;
    if (n >= createAnswers.size()) {
        ADD_FAILURE() << "unexpected create question for " << path.toStdString();
        return false;
    }
    return createAnswers[n];
}

ErrorAnswer ScriptedQuestions::askError(const FileError& error)
{
    std::lock_guard lock(m_mutex);
    if (onQuestion)
        onQuestion();
    const size_t n = errors.size();
    errors.push_back(error);
    if (n >= errorAnswers.size()) {
        ADD_FAILURE() << "unexpected error prompt: " << error.text().toStdString();
        return ErrorAnswer::Cancel;
    }
    return errorAnswers[n];
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
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << rel.toStdString();
    ASSERT_EQ(f.write(content), content.size());
}

QByteArray TempTree::read(const QString& rel) const
{
    QFile f(path(rel));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

bool TempTree::exists(const QString& rel) const
{
    return QFileInfo::exists(path(rel)) || QFileInfo(path(rel)).isSymLink();
}

void TempTree::mkdirs(const QString& rel) const
{
    ASSERT_TRUE(QDir().mkpath(path(rel)));
}

QStringList TempTree::files(const QString& rel) const
{
    QStringList out;
    const QString root = path(rel);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}
