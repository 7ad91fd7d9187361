// The home-path update of one OU as a job: plan, folder check, run and undo, apart from any window.
#pragma once

#include "common/modMain.h"
#include "directory_update/Directory.h"
#include "directory_update/HomePathUpdate.h"
#include "directory_update/PermissionFixer.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

// The whole home-path update of one OU, apart from any window. It owns every
// rule and every log line: plan() lists the accounts (the OU's own users, then
// each container below it, parent first and depth first) and checks the user
// path; checkFolders() looks for every new home folder; run() writes exactly
// the planned accounts, logs each one, records it for undo and fixes its
// permissions, and ends with a summary. Each step has a synchronous form (the
// command line) and an asynchronous one (the wizard), which runs it on a thread
// of its own and reports through stateChanged(). It never asks anything: the
// questions are the caller's.
class HomePathUpdateJob : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Planning, Planned, CheckingFolders, Running, Done, Failed };
    Q_ENUM(State)

    // Opens the directory for the thread that calls it (one handle per thread).
    using DirectoryOpener = std::function<std::unique_ptr<DirectoryAccess>(DirectoryError&)>;
    explicit HomePathUpdateJob(DirectoryOpener opener, QObject* parent = nullptr);
    ~HomePathUpdateJob() override;

    // The accounts below ou (deep) or directly in it, with their new paths. False
    // when ou itself cannot be searched or the user path breaks a rule (err says
    // why); a container below it that fails is recorded in the plan's failures.
    bool plan(const QString& ou, bool deep, const QString& userPath, DirectoryError& err);
    void startPlan(const QString& ou, bool deep, const QString& userPath);
    // An undo: the accounts of an undo file, each to get its old value back.
    void setPlan(HomePathUpdate::HomePathPlan plan);
    // The plan as it stands; read it only while no step runs.
    const HomePathUpdate::HomePathPlan& currentPlan() const { return m_plan; }
    // Settings of the run; the new paths follow the user path.
    void setSettings(const HomePathUpdate::Settings& settings);
    void setWriteMode(HomePathUpdate::WriteMode mode) { m_mode = mode; }
    // Log lines go here (default: the day's LDAP log).
    void setLog(std::function<void(const QString&)> log) { m_log = std::move(log); }
    void setPermissionFixer(std::unique_ptr<PermissionFixer> fixer) { m_fixer = std::move(fixer); }

    // Looks for each account's new home folder. False when some could not be
    // checked at all (folderCheckError() says why); a run then writes nothing.
    bool checkFolders();
    void startFolderCheck();
    bool foldersChecked() const { return m_foldersChecked; }
    QString folderCheckError() const { return m_folderCheckError; }
    int missingFolders() const;
    // A missing folder is made before its account is written (default: the account is left alone).
    void setCreateMissing(bool create) { m_createMissing = create; }
    // Writes without looking for the folders first.
    void setSkipFolderCheck(bool skip) { m_skipFolderCheck = skip; }

    // Runs the plan on the calling thread; returns the number of failures
    // (accounts not written, failed fixes, containers, or a refused run).
    int run();
    void start();
    // Why a run of the plan as it stands would write nothing at all, or "" when it
    // can go ahead: a broken user path, no group or domain for the permission fix,
    // folders that cannot be checked. Checks the folders first when needed.
    QString refusal();
    // Asks a run to stop before its next account (safe from a signal handler).
    void requestStop(const char* why) noexcept;

    State state() const { return m_state; }
    bool isRunning() const { return m_state == State::Running; }
    // Why the last plan or run failed as a whole.
    QString error() const { return m_error; }
    const HomePathUpdate::RunSummary& summary() const { return m_summary; }
    // Undo file of the last run ("" when it could not be made or nothing was written).
    QString undoFileName() const { return m_undoFile; }
    int errors() const { return m_summary.failures(); }
    // The first line of the last run that the default log could not write (ok() when all were).
    modMain::LogResult logFailure() const { return m_logFailure; }

signals:
    void stateChanged(HomePathUpdateJob::State state);
    // After each account: done of total, and the name the progress shows.
    void progress(int done, int total, const QString& name);
    void finished(int errors);

private:
    void setState(State state);
    void inThread(std::function<void()> work);
    void visit(DirectoryAccess& directory, const QString& container, const QSet<QString>& holders,
               const QString& userPath);
    void logLine(const QString& message);
    // Looks the administrators' group's SID up and lets the fixer get ready; the SID, or "".
    QString prepareFixer(DirectoryAccess& directory);
    void finishRun();
    QSet<QString> plannedKeys() const;
    bool toldByFailure(const QString& dn) const;
    void reportLateAccounts(DirectoryAccess& directory);

    DirectoryOpener m_opener;
    HomePathUpdate::HomePathPlan m_plan;
    HomePathUpdate::Settings m_settings;
    HomePathUpdate::WriteMode m_mode = HomePathUpdate::WriteMode::Update;
    std::function<void(const QString&)> m_log;
    std::unique_ptr<PermissionFixer> m_fixer;
    std::atomic<State> m_state{State::Idle};
    std::atomic<bool> m_stop{false};
    std::atomic<const char*> m_stopReason{nullptr};
    bool m_foldersChecked = false;
    bool m_createMissing = false;
    bool m_skipFolderCheck = false;
    QString m_folderCheckError;
    QString m_error;
    QString m_domainError;
    HomePathUpdate::RunSummary m_summary;
    modMain::LogResult m_logFailure;
    QString m_undoFile;
    QThread* m_thread = nullptr;
};
