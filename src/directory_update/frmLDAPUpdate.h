// The directory update wizard. Its code: frmLDAPUpdate.cpp (the window), frmLDAPUpdateOUTree.cpp (step 1),
// frmLDAPUpdatePlan.cpp (step 2) and frmLDAPUpdateRun.cpp (step 3 and the job's states).
#pragma once

#include "directory_update/Directory.h"
#include "directory_update/HomePathUpdate.h"
#include "directory_update/HomePathUpdateJob.h"
#include "directory_update/OUTreeEvent.h"
#include "settings/AppSettings.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QThread;
class QTreeWidget;
class QTreeWidgetItem;

// The three-step directory update wizard: choose an OU (step 1), see what will
// be updated (step 2), update every user account of it (step 3). The job owns
// the work, its rules and its log lines, and runs off this thread; the form
// starts its steps, renders the states it reports in slots and asks the
// operator's questions. It never waits in an event loop of its own.
class frmLDAPUpdate : public QWidget {
    Q_OBJECT
public:
    explicit frmLDAPUpdate(QWidget* parent = nullptr);
    ~frmLDAPUpdate() override;

    // The wizard state, for whoever looks at it from outside (tests find the controls by object name).
    QString selectedOU() const { return SelectedOU; }
    QTreeWidgetItem* checkedNode() const { return CheckedNode; }
    // The node of a DN in the tree ("root" for the domain), or nullptr.
    QTreeWidgetItem* nodeByKey(const QString& key) const;
    // Failures of the last run (accounts not written, failed fixes, unreadable containers).
    int updateErrors() const { return m_errors; }
    bool isUpdating() const { return m_updating; }
    // Work is under way off the window's thread (the OU tree, the plan, the folder check or the run).
    bool isBusy() const;
    // The plan step 2 took; null before step 2 or when it failed.
    const HomePathUpdateJob* job() const { return m_job.get(); }
    // Page size of the wizard's directory searches.
    void setPageSize(int pageSize) { m_pageSize = pageSize; }

protected:
    void closeEvent(QCloseEvent* event) override;
    // The children OUs of a container; a stand-in directory can fail here. Called off the window's thread.
    virtual QList<DirectoryChild> EnumerateOUs(DirectorySession& session, const QString& container,
                                               DirectoryError& err);

private:
    // Wizard state.
    QString SelectedOU;
    QTreeWidgetItem* CheckedNode = nullptr;
    qint16 IncludeSubtree = 1;
    qint16 FixPermissions = 1;
    qint32 UserCount = 0; // any count the directory can return

    // Controls.
    QLabel* Label1 = nullptr;
    QLabel* lblTitle2 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* lblHeader = nullptr;
    QLabel* lblSubHeader = nullptr;
    QLabel* lblFooter = nullptr;
    QGroupBox* frmeStep1 = nullptr;
    QTreeWidget* TreeView1 = nullptr;
    QCheckBox* chkSubTree = nullptr;
    QCheckBox* chkFixPerms = nullptr;
    QWidget* Picture1 = nullptr;
    QPushButton* cmdCheckOU = nullptr;
    QGroupBox* frmeStep2 = nullptr;
    QLabel* lblStep2OUa = nullptr;
    QLabel* lblStep2SelectedOU = nullptr;
    QLabel* lblIncSubtree = nullptr;
    QLabel* lblIncSubTrees2 = nullptr;
    QLabel* lblStep2USerTotal = nullptr;
    QLabel* lblStep2MemberCount = nullptr;
    QLabel* lblStep2NewPath = nullptr;
    QLabel* lblHomePath2 = nullptr;
    QWidget* Picture3 = nullptr;
    QPushButton* cmdBack = nullptr;
    QWidget* Picture2 = nullptr;
    QPushButton* cmdGo = nullptr;
    QWidget* Picture5 = nullptr;
    QPushButton* cmdPreview = nullptr; // lists the plan before Confirm
    QGroupBox* frmeStep3 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* lblProgressPercent = nullptr;
    QLabel* lblPROGRESS = nullptr;
    QLabel* lblRunSummary = nullptr; // the run's counts, log and undo file
    QWidget* Picture4 = nullptr;
    QPushButton* cmdFinish = nullptr;

    // Handlers and routines.
    void Form_Load();
    void chkSubTree_Click();
    void chkFixPerms_Click();
    void TreeView1_NodeCheck(QTreeWidgetItem* node);
    void cmdCheckOU_Click();
    void cmdBack_Click();
    void cmdGo_Click();
    void cmdPreview_Click();
    void cmdFinish_Click();
    void LoadOUTree();
    void RecurseOUs(DirectorySession& session, const QString& container, int depth, const QString& parentKey,
                    QList<OUTreeEvent>& events);
    void GetMembers();
    void ModUsersRootOnly(const QString& dn);
    void ModUsersDeep(const QString& dn);
    void DisableCloseWindowsButton(QWidget* window);

    void createControls();
    void createStep1(const QRect& frame);
    void createStep2(const QRect& frame);
    void createStep3(const QRect& frame);
    void showStep(QGroupBox* step);
    QTreeWidgetItem* addNode(QTreeWidgetItem* parent, const QString& key, const QString& text);
    void collectTree(QList<OUTreeEvent>& events);
    void treeLoaded(const QList<OUTreeEvent>& events);
    void modUsers(const QString& dn, bool deep, const QString& userCaption);
    void jobStateChanged(HomePathUpdateJob::State state);
    void showPlan();
    void foldersChecked();
    void runFinished();
    void setStep2Enabled(bool enabled);
    // The log writer shows nothing itself: a failed line is reported here, once per occasion.
    static void showLogFailure(const modMain::LogResult& written);
    void userDone(int done, int total, const QString& name, const QString& userCaption);
    std::unique_ptr<DirectorySession> openSession(DirectoryError& err) const;
    HomePathUpdateJob::DirectoryOpener directoryOpener() const;

    bool m_updating = false;  // from the confirmation on: the window refuses to close
    bool m_finishing = false; // cmdFinish lets the window close
    bool m_loadingTree = false;
    enum class Waiting { Nothing, Tree, Plan, FoldersForRun, FoldersForPreview, Run };
    Waiting m_waiting = Waiting::Nothing;
    QThread* m_treeThread = nullptr;
    QString m_userCaption;
    AppSettings m_settings; // read when the form loads and when Back starts step 1 again
    int m_errors = 0;
    int m_pageSize = DirectorySession::kDefaultPageSize;
    std::unique_ptr<HomePathUpdateJob> m_job; // the plan of step 2, run by Confirm
};
