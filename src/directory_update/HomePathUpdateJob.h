#pragma once

#include "common/modMain.h"
#include "directory_update/Directory.h"
#include "directory_update/HomePathUpdate.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

// A container whose accounts could not be listed while planning.
struct PlanFailure {
    QString dn;
    QString text;
};

// Every account one update will touch, in the order it will touch them, taken
// before anything is written.
struct HomePathPlan {
    QString ou;
    bool deep = true;
    QList<HomePathUpdate::PlannedAccount> accounts;
    QList<PlanFailure> failures;
};

// The whole home-path update of one OU, apart from any window: plan() lists the
// accounts (the OU's own users, then each container below it, parent first and
// depth first), run() writes exactly those, logs each one, records it for undo
// and fixes its permissions. Progress goes out as signals; start() runs it on a
// thread of its own. It never asks anything: refusals are the caller's.
class HomePathUpdateJob : public QObject {
    Q_OBJECT
public:
    // Opens the directory for the thread that calls it (one handle per thread).
    using DirectoryOpener = std::function<std::unique_ptr<DirectoryAccess>(DirectoryError&)>;
    explicit HomePathUpdateJob(DirectoryOpener opener, QObject* parent = nullptr);
    ~HomePathUpdateJob() override;

    // The accounts below ou (deep) or directly in it. False when ou itself cannot
    // be searched (err says why); a container below it that fails is recorded in
    // the plan's failures and the plan goes on.
    bool plan(const QString& ou, bool deep, const QString& userPath, DirectoryError& err);
    // An undo: the accounts of an undo file, each to get its old value back.
    void setPlan(HomePathPlan plan);
    const HomePathPlan& currentPlan() const { return m_plan; }
    // Settings are read when the run starts; the new paths follow the user path.
    void setSettings(const HomePathUpdate::Settings& settings);
    void setWriteMode(HomePathUpdate::WriteMode mode) { m_mode = mode; }
    // Log lines go here (default: the day's LDAP log).
    void setLog(std::function<void(const QString&)> log) { m_log = std::move(log); }

    // Runs the plan on the calling thread; returns the number of failures
    // (accounts, containers, or the directory itself).
    int run();
    // Runs it on a thread of its own; finished() follows.
    void start();
    bool isRunning() const { return m_running; }
    // Undo file of the last run ("" when it could not be made).
    QString undoFileName() const { return m_undoFile; }
    int errors() const { return m_errors; }
    // The first line of the last run that the default log could not write (ok() when all were).
    modMain::LogResult logFailure() const { return m_logFailure; }

signals:
    // After each account: done of total, and the name the progress shows.
    void progress(int done, int total, const QString& name);
    void finished(int errors);

private:
    void visit(DirectoryAccess& directory, const QString& container, const QSet<QString>& holders,
               const QString& userPath);
    void logLine(const QString& message);
    QSet<QString> plannedKeys() const;
    bool toldByFailure(const QString& dn) const;
    void reportLateAccounts(DirectoryAccess& directory);

    DirectoryOpener m_opener;
    HomePathPlan m_plan;
    HomePathUpdate::Settings m_settings;
    HomePathUpdate::WriteMode m_mode = HomePathUpdate::WriteMode::Update;
    std::function<void(const QString&)> m_log;
    std::atomic<bool> m_running{false};
    int m_errors = 0;
    modMain::LogResult m_logFailure;
    QString m_undoFile;
    QThread* m_thread = nullptr;
};
