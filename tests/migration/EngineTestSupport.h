#pragma once

#include "migration/fileop/FileOperation.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <mutex>
#include <vector>

// Answers the engine's questions from scripts and records them. A question
// beyond its script fails the test and answers Cancel, so nothing hangs.
class ScriptedQuestions : public fileop::FileOpQuestions {
public:
    std::vector<fileop::ReplaceAnswer> replaceAnswers;
    std::vector<bool> createAnswers;
    std::vector<fileop::ErrorAnswer> errorAnswers;
    std::function<void()> onQuestion; // runs before each answer (on the worker thread)

    std::vector<fileop::Conflict> conflicts;
    QStringList createAsked;
    std::vector<fileop::FileError> errors;

    fileop::ReplaceAnswer askReplace(const fileop::Conflict& conflict) override;
    bool askCreateFolder(const QString& path) override;
    fileop::ErrorAnswer askError(const fileop::FileError& error) override;

private:
    template <typename T, typename Log, typename Item>
    T next(Log& log, const Item& item, const std::vector<T>& script, T fallback);
    std::mutex m_mutex;
};

// A temporary folder with helpers that name paths relative to it.
class TempTree {
public:
    TempTree();
    QString path(const QString& rel = {}) const;
    QByteArray bytes(const QString& rel = {}) const { return path(rel).toLocal8Bit(); }
    void write(const QString& rel, const QByteArray& content) const;
    QByteArray read(const QString& rel) const;
    bool exists(const QString& rel) const;
    // Every file below rel (relative paths, sorted), links and folders excluded.
    QStringList files(const QString& rel) const;

private:
    QTemporaryDir m_dir;
};
