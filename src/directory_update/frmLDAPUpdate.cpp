#include "frmLDAPUpdate.h"

#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/modMain.h"
#include "directory_update/frmPreview.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <limits>
#include <utility>

using namespace FormKit;

namespace {
constexpr int kKeyRole = Qt::UserRole;    // the node's key: "root" or the OU's DN
constexpr int kDnRole = Qt::UserRole + 1; // the DN the node stands for
} // namespace

frmLDAPUpdate::frmLDAPUpdate(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowSystemMenuHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("frmLDAPUpdate"));
    createControls();
    Form_Load();
}

frmLDAPUpdate::~frmLDAPUpdate()
{
    // The tree's thread calls this form's EnumerateOUs: it ends before the form does.
    if (m_treeThread) {
        m_treeThread->wait();
        delete m_treeThread;
    }
}

void frmLDAPUpdate::createControls()
{
    setFixedSize(tw(7395), tw(8655));
    setWhiteBackground(this);
    setFont(formFont(8.25));
    std::tie(Image1, Label1, lblTitle2) = makeTitleBlock(this, 240, 240);
    lblHeader = makeLabel(this, QStringLiteral("lblHeader"), twRect(240, 1380, 6915, 285),
                          QStringLiteral("Update Users Home Paths && Permissions"), 9.75);
    lblHeader->setFont(formFont(9.75, true));
    lblSubHeader = makeLabel(this, QStringLiteral("lblSubHeader"), twRect(240, 1740, 6915, 615),
                             QStringLiteral("Follow the 3 steps below to bulk update users within Active Directory. "
                                            "Make sure that you have already migrated users home directories before "
                                            "running this update."));
    lblSubHeader->setWordWrap(true);

    const QRect frame = twRect(240, 2460, 6915, 5580);
    frmeStep1 = makeFrame(this, QStringLiteral("frmeStep1"), frame, QStringLiteral("Step 1 - Choose OU to Update"));
    TreeView1 = new QTreeWidget(frmeStep1);
    TreeView1->setObjectName(QStringLiteral("TreeView1"));
    TreeView1->setGeometry(twRect(120, 300, 6675, 3915));
    TreeView1->setHeaderHidden(true);
    TreeView1->setColumnCount(1);
    TreeView1->setFont(formFont(8.25));
    chkSubTree = makeCheckBox(frmeStep1, QStringLiteral("chkSubTree"), twRect(120, 4320, 3375, 255),
                              QStringLiteral("Include Child OUs?"));
    chkSubTree->setChecked(true);
    chkFixPerms = makeCheckBox(frmeStep1, QStringLiteral("chkFixPerms"), twRect(120, 4680, 3375, 255),
                               QStringLiteral("Fix Home File Permissions?"));
    chkFixPerms->setChecked(true);
    Picture1 = makePanel(frmeStep1, QStringLiteral("Picture1"), twRect(4980, 4980, 1815, 495));
    cmdCheckOU =
        makeButton(Picture1, QStringLiteral("cmdCheckOU"), twRect(60, 60, 1695, 375), QStringLiteral("Check OU >>"));

    frmeStep2 = makeFrame(this, QStringLiteral("frmeStep2"), frame, QStringLiteral("Step 2 - Confirm Update"));
    lblStep2OUa = makeLabel(frmeStep2, QStringLiteral("lblStep2OUa"), twRect(120, 420, 1620, 255),
                            QStringLiteral("Selected DN:"));
    lblStep2SelectedOU =
        makeLabel(frmeStep2, QStringLiteral("lblStep2SelectedOU"), twRect(1800, 420, 4995, 615), QStringLiteral("   "));
    lblStep2SelectedOU->setWordWrap(true);
    lblStep2SelectedOU->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblIncSubtree = makeLabel(frmeStep2, QStringLiteral("lblIncSubtree"), twRect(120, 1140, 1620, 255),
                              QStringLiteral("Include Subtrees:"));
    lblIncSubTrees2 =
        makeLabel(frmeStep2, QStringLiteral("lblIncSubTrees2"), twRect(1800, 1140, 4995, 255), QStringLiteral("Yes"));
    lblStep2USerTotal = makeLabel(frmeStep2, QStringLiteral("lblStep2USerTotal"), twRect(120, 1560, 1620, 255),
                                  QStringLiteral("Total Users:"));
    lblStep2MemberCount =
        makeLabel(frmeStep2, QStringLiteral("lblStep2MemberCount"), twRect(1800, 1560, 4995, 495), QStringLiteral("0"));
    lblStep2MemberCount->setWordWrap(true);
    lblStep2MemberCount->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lblStep2NewPath = makeLabel(frmeStep2, QStringLiteral("lblStep2NewPath"), twRect(120, 2160, 1620, 255),
                                QStringLiteral("New Path:"));
    lblHomePath2 = makeLabel(frmeStep2, QStringLiteral("lblHomePath2"), twRect(1800, 2160, 4995, 615),
                             QStringLiteral("\\\\server\\share\\"));
    lblHomePath2->setWordWrap(true);
    lblHomePath2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    for (QLabel* caption : {lblStep2OUa, lblIncSubtree, lblStep2USerTotal, lblStep2NewPath})
        caption->setFont(formFont(8.25, true));
    Picture3 = makePanel(frmeStep2, QStringLiteral("Picture3"), twRect(120, 4980, 1815, 495));
    cmdBack = makeButton(Picture3, QStringLiteral("cmdBack"), twRect(60, 60, 1695, 375), QStringLiteral("<< Back"));
    Picture2 = makePanel(frmeStep2, QStringLiteral("Picture2"), twRect(4980, 4980, 1815, 495));
    cmdGo = makeButton(Picture2, QStringLiteral("cmdGo"), twRect(60, 60, 1695, 375), QStringLiteral("Confirm >>"));
    Picture5 = makePanel(frmeStep2, QStringLiteral("Picture5"), twRect(2550, 4980, 1815, 495));
    cmdPreview =
        makeButton(Picture5, QStringLiteral("cmdPreview"), twRect(60, 60, 1695, 375), QStringLiteral("Preview..."));
    cmdPreview->setEnabled(false);

    frmeStep3 = makeFrame(this, QStringLiteral("frmeStep3"), frame, QStringLiteral("Step 3 - Updating Users"));
    ProgressBar1 = new QProgressBar(frmeStep3);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(twRect(120, 600, 6675, 375));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    lblProgressPercent =
        makeLabel(frmeStep3, QStringLiteral("lblProgressPercent"), twRect(120, 1080, 6675, 255), QStringLiteral("0%"));
    lblProgressPercent->setAlignment(Qt::AlignCenter);
    lblPROGRESS = makeLabel(frmeStep3, QStringLiteral("lblPROGRESS"), twRect(120, 1440, 6675, 495),
                            QStringLiteral("Updating please wait..."));
    lblPROGRESS->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblPROGRESS->setWordWrap(true);
    lblRunSummary = makeLabel(frmeStep3, QStringLiteral("lblRunSummary"), twRect(120, 2040, 6675, 1215), QString());
    lblRunSummary->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblRunSummary->setWordWrap(true);
    Picture4 = makePanel(frmeStep3, QStringLiteral("Picture4"), twRect(4980, 4980, 1815, 495));
    cmdFinish =
        makeButton(Picture4, QStringLiteral("cmdFinish"), twRect(60, 60, 1695, 375), QStringLiteral("Finish >>"));
    cmdFinish->setEnabled(false);

    lblFooter = makeFooter(this, twRect(960, 8280, 5340, 240));
    fitLabels(this);

    connect(chkSubTree, &QCheckBox::clicked, this, &frmLDAPUpdate::chkSubTree_Click);
    connect(chkFixPerms, &QCheckBox::clicked, this, &frmLDAPUpdate::chkFixPerms_Click);
    connect(TreeView1, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (!m_loadingTree)
            TreeView1_NodeCheck(item);
    });
    connect(cmdCheckOU, &QPushButton::clicked, this, &frmLDAPUpdate::cmdCheckOU_Click);
    connect(cmdBack, &QPushButton::clicked, this, &frmLDAPUpdate::cmdBack_Click);
    connect(cmdGo, &QPushButton::clicked, this, &frmLDAPUpdate::cmdGo_Click);
    connect(cmdPreview, &QPushButton::clicked, this, &frmLDAPUpdate::cmdPreview_Click);
    connect(cmdFinish, &QPushButton::clicked, this, &frmLDAPUpdate::cmdFinish_Click);
}

void frmLDAPUpdate::showStep(QGroupBox* step)
{
    for (QGroupBox* f : {frmeStep1, frmeStep2, frmeStep3})
        f->setVisible(f == step);
}

void frmLDAPUpdate::Form_Load()
{
    CheckedNode = nullptr;
    showStep(frmeStep1);
    IncludeSubtree = 1;
    FixPermissions = 1;
    setCaption(this);
    m_settings = AppSettings::load();
    if (!m_settings.loadError.isEmpty())
        MsgBox(m_settings.loadError, vbOKOnly | vbExclamation, modMain::AppCaption());
    lblHomePath2->setText(m_settings.userPath);
    LoadOUTree();
}

void frmLDAPUpdate::chkSubTree_Click()
{
    IncludeSubtree = chkSubTree->isChecked() ? 1 : 0;
}

void frmLDAPUpdate::chkFixPerms_Click()
{
    FixPermissions = chkFixPerms->isChecked() ? 1 : 0;
}

std::unique_ptr<DirectorySession> frmLDAPUpdate::openSession(DirectoryError& err) const
{
    auto session = DirectorySession::open(err);
    if (session)
        session->setPageSize(m_pageSize);
    return session;
}

QTreeWidgetItem* frmLDAPUpdate::addNode(QTreeWidgetItem* parent, const QString& key, const QString& text)
{
    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
    node->setText(0, text);
    node->setData(0, kKeyRole, key);
    node->setData(0, kDnRole, key == QLatin1String("root") ? text : key);
    node->setFlags(node->flags() | Qt::ItemIsUserCheckable);
    node->setCheckState(0, Qt::Unchecked);
    return node;
}

QTreeWidgetItem* frmLDAPUpdate::nodeByKey(const QString& key) const
{
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
        if ((*it)->data(0, kKeyRole).toString() == key)
            return *it;
    return nullptr;
}

// The directory is read off the window's thread; what it met comes back as a
// list of events, replayed here in order: nodes, log lines and messages alike.
void frmLDAPUpdate::LoadOUTree()
{
    m_waiting = Waiting::Tree;
    setCursor(Qt::BusyCursor);
    auto events = std::make_shared<QList<TreeEvent>>();
    m_treeThread = QThread::create([this, events] { collectTree(*events); });
    connect(m_treeThread, &QThread::finished, this, [this, events] {
        // finished() comes just before the thread's very end: wait for that, then let it go.
        m_treeThread->wait();
        delete std::exchange(m_treeThread, nullptr);
        m_waiting = Waiting::Nothing;
        unsetCursor();
        treeLoaded(*events);
    });
    m_treeThread->start();
}

void frmLDAPUpdate::collectTree(QList<TreeEvent>& events)
{
    DirectoryError err;
    auto session = openSession(err);
    QString namingContext;
    if (session)
        namingContext = session->readRootDse(QStringLiteral("defaultNamingContext"), err);
    if (session && !err)
        session->bindEntry(namingContext, err);
    if (err) {
        events.append({TreeEvent::Kind::LoadFailed, {}, {}, err.text, err.code});
        return;
    }
    events.append({TreeEvent::Kind::Node, {}, QStringLiteral("root"), namingContext, 0});
    RecurseOUs(*session, namingContext, 0, QStringLiteral("root"), events);
}

void frmLDAPUpdate::treeLoaded(const QList<TreeEvent>& events)
{
    QHash<QString, QTreeWidgetItem*> nodes;
    for (const TreeEvent& e : events) {
        switch (e.kind) {
        case TreeEvent::Kind::LoadFailed:
            // Without a directory there is nothing to choose: say why once, leave the tree empty.
            MsgBox(QStringLiteral("Unable to read the directory: ") + e.text, vbOKOnly | vbCritical,
                   modMain::AppCaption());
            break;
        case TreeEvent::Kind::Node: {
            m_loadingTree = true;
            QTreeWidgetItem* node = addNode(nodes.value(e.parentKey), e.key, e.text);
            m_loadingTree = false;
            if (e.key == QLatin1String("root"))
                node->setExpanded(true);
            nodes.insert(e.key, node);
            break;
        }
        case TreeEvent::Kind::EnumerationFailed:
            showLogFailure(modMain::WriteLog(QStringLiteral("RecurseOUs - Error: %1 - %2").arg(e.code).arg(e.text),
                                             QStringLiteral("error")));
            MsgBox(QStringLiteral("An error has occured, please check the error log for more detailed information"),
                   vbOKOnly | vbCritical, modMain::AppCaption());
            break;
        case TreeEvent::Kind::BindFailed:
            MsgBox(QStringLiteral("Error enumerating ") + e.key, vbOKOnly);
            break;
        }
    }
}

QList<DirectoryChild> frmLDAPUpdate::EnumerateOUs(DirectorySession& session, const QString& container,
                                                  DirectoryError& err)
{
    return session.children(container, QStringLiteral("organizationalUnit"), err);
}

void frmLDAPUpdate::RecurseOUs(DirectorySession& session, const QString& container, int depth, const QString& parentKey,
                               QList<TreeEvent>& events)
{
    DirectoryError err;
    const QList<DirectoryChild> children = EnumerateOUs(session, container, err);
    if (err) {
        events.append({TreeEvent::Kind::EnumerationFailed, {}, container, err.text, err.code});
        return;
    }
    for (const DirectoryChild& child : children) {
        if (child.Name.left(3).toUpper() != QLatin1String("OU="))
            continue;
        // Keys are DNs: two OUs of one name at one depth are two nodes.
        const QString dn = child.DistinguishedName;
        QString text = child.Name;
        text.remove(QStringLiteral("OU="));
        events.append({TreeEvent::Kind::Node, parentKey, dn, text, 0});
        DirectoryError bindErr;
        if (session.bindEntry(dn, bindErr))
            RecurseOUs(session, dn, depth + 1, dn, events);
        else
            events.append({TreeEvent::Kind::BindFailed, {}, dn, bindErr.text, bindErr.code});
    }
}

void frmLDAPUpdate::TreeView1_NodeCheck(QTreeWidgetItem* node)
{
    if (!node)
        return;
    const bool ticked = node->checkState(0) == Qt::Checked;
    if (ticked) {
        // One choice at a time: a tick elsewhere would not be the choice.
        m_loadingTree = true;
        for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
            if (*it != node && (*it)->checkState(0) != Qt::Unchecked)
                (*it)->setCheckState(0, Qt::Unchecked);
        m_loadingTree = false;
        CheckedNode = node;
    } else if (CheckedNode == node) {
        CheckedNode = nullptr;
    }
    SelectedOU = node->data(0, kDnRole).toString();
}

void frmLDAPUpdate::cmdCheckOU_Click()
{
    if (!CheckedNode) {
        MsgBox(QStringLiteral("You must select an OU to update before you can continue."), vbOKOnly | vbCritical,
               modMain::AppCaption());
        return;
    }
    frmeStep1->hide();
    frmeStep3->hide();
    GetMembers();
    frmeStep2->show();
}

HomePathUpdateJob::DirectoryOpener frmLDAPUpdate::directoryOpener() const
{
    return [pageSize = m_pageSize](DirectoryError& err) -> std::unique_ptr<DirectoryAccess> {
        auto session = DirectorySession::open(err);
        if (session)
            session->setPageSize(pageSize);
        return session;
    };
}

void frmLDAPUpdate::GetMembers()
{
    UserCount = 0;
    const bool subtree = IncludeSubtree == 1;
    lblIncSubTrees2->setText(subtree ? QStringLiteral("Yes") : QStringLiteral("No"));
    lblStep2SelectedOU->setText(SelectedOU);
    lblStep2MemberCount->setFont(formFont(8.25, false));
    lblStep2MemberCount->setText(QStringLiteral("Counting..."));
    cmdGo->setEnabled(false);
    cmdPreview->setEnabled(false);
    // The plan is the count: the accounts shown here are the ones Confirm writes.
    m_job = std::make_unique<HomePathUpdateJob>(directoryOpener());
    connect(m_job.get(), &HomePathUpdateJob::stateChanged, this, &frmLDAPUpdate::jobStateChanged);
    connect(m_job.get(), &HomePathUpdateJob::progress, this,
            [this](int done, int total, const QString& name) { userDone(done, total, name, m_userCaption); });
    m_waiting = Waiting::Plan;
    setCursor(Qt::BusyCursor);
    m_job->startPlan(SelectedOU, subtree, m_settings.userPath);
}

bool frmLDAPUpdate::isBusy() const
{
    return m_waiting != Waiting::Nothing;
}

// The job reports from its own thread; this slot runs on the window's.
void frmLDAPUpdate::jobStateChanged(HomePathUpdateJob::State state)
{
    using State = HomePathUpdateJob::State;
    if (state == State::Planning || state == State::CheckingFolders || state == State::Running)
        return;
    const Waiting waiting = std::exchange(m_waiting, Waiting::Nothing);
    unsetCursor();
    switch (waiting) {
    case Waiting::Plan:
        showPlan();
        break;
    case Waiting::FoldersForRun:
        foldersChecked();
        break;
    case Waiting::FoldersForPreview:
        setStep2Enabled(true);
        cmdPreview_Click();
        break;
    case Waiting::Run:
        runFinished();
        break;
    case Waiting::Tree:
    case Waiting::Nothing:
        break;
    }
}

void frmLDAPUpdate::showPlan()
{
    if (m_job->state() != HomePathUpdateJob::State::Planned) {
        // A count that failed is not "no users": say so, and offer only Back.
        const QString why = m_job->error();
        lblStep2MemberCount->setFont(formFont(8.25, true));
        lblStep2MemberCount->setText(
            m_job->currentPlan().accounts.isEmpty() && why.startsWith(QLatin1String("the user path"))
                ? QStringLiteral("The User Folder Path setting cannot be used: %1. Correct it in the settings.")
                      .arg(why)
                : QStringLiteral("Unable to count the users: ") + why);
        cmdGo->setEnabled(false);
        m_job.reset();
        return;
    }
    const HomePathUpdate::HomePathPlan& plan = m_job->currentPlan();
    UserCount = qint32(qMin<qint64>(plan.accounts.size(), std::numeric_limits<qint32>::max()));
    if (UserCount != 0) {
        lblStep2MemberCount->setFont(formFont(8.25, false));
        QString text = QString::number(UserCount);
        if (!plan.failures.isEmpty())
            text += QStringLiteral(" (%1 containers could not be read)").arg(plan.failures.size());
        lblStep2MemberCount->setText(text);
        cmdGo->setEnabled(true);
        cmdPreview->setEnabled(true);
    } else {
        lblStep2MemberCount->setFont(formFont(8.25, true));
        lblStep2MemberCount->setText(QStringLiteral("There are no users to update"));
        cmdGo->setEnabled(false);
    }
}

void frmLDAPUpdate::setStep2Enabled(bool enabled)
{
    cmdBack->setEnabled(enabled);
    cmdGo->setEnabled(enabled && UserCount != 0);
    cmdPreview->setEnabled(enabled && UserCount != 0);
}

void frmLDAPUpdate::cmdPreview_Click()
{
    if (!m_job || isBusy())
        return;
    if (!m_job->foldersChecked()) {
        // The folders are looked up off this thread; the preview opens when they are.
        setStep2Enabled(false);
        setCursor(Qt::BusyCursor);
        m_waiting = Waiting::FoldersForPreview;
        m_job->startFolderCheck();
        return;
    }
    frmPreview preview(m_job->currentPlan(), this);
    preview.exec();
}

void frmLDAPUpdate::cmdBack_Click()
{
    if (isBusy())
        return;
    SelectedOU.clear();
    UserCount = 0;
    // A fresh start of step 1: the settings are read again, and the next plan uses what is shown.
    m_settings = AppSettings::load();
    lblHomePath2->setText(m_settings.userPath);
    CheckedNode = nullptr;
    m_job.reset();
    frmeStep2->hide();
    frmeStep3->hide();
    m_loadingTree = true;
    for (int i = TreeView1->topLevelItemCount() - 1; i >= 0; --i)
        delete TreeView1->takeTopLevelItem(i);
    m_loadingTree = false;
    LoadOUTree();
    frmeStep1->show();
}

void frmLDAPUpdate::cmdGo_Click()
{
    if (!m_job || isBusy())
        return;
    if (MsgBox(QStringLiteral("Are you sure you want to update the selected users?\r\nThis update cannot be "
                              "stopped once it has been started."),
               vbYesNo | vbQuestion, modMain::AppCaption()) != MsgBoxAnswer::Yes)
        return;
    HomePathUpdate::Settings settings{m_settings.adminGroup, m_settings.userPath, FixPermissions == 1};
    m_job->setSettings(settings);
    // Before anything is written the folders are looked for, off this thread.
    setStep2Enabled(false);
    setCursor(Qt::WaitCursor);
    m_waiting = Waiting::FoldersForRun;
    if (m_job->foldersChecked()) {
        m_waiting = Waiting::Nothing;
        foldersChecked();
        return;
    }
    m_job->startFolderCheck();
}

// After Confirm, with every folder looked for: what cannot go ahead is said, a
// missing folder is the operator's question, and the rest is the run.
void frmLDAPUpdate::foldersChecked()
{
    unsetCursor();
    if (const QString why = m_job->refusal(); !why.isEmpty()) {
        MsgBox(QStringLiteral("Nothing was written: ") + why + u'.', vbOKOnly | vbExclamation, modMain::AppCaption());
        setStep2Enabled(true);
        return;
    }
    if (const int missing = m_job->missingFolders(); missing > 0) {
        QString example;
        for (const HomePathUpdate::PlannedAccount& a : m_job->currentPlan().accounts)
            if (a.problem.isEmpty() && a.folder == HomePathUpdate::FolderState::Missing && example.isEmpty())
                example = HomePathUpdate::printable(a.newHome);
        const MsgBoxAnswer answer =
            MsgBox(QStringLiteral("%1 of the %2 home folders do not exist yet (for example %3).\r\n\r\n"
                                  "Yes: create them, then update those users.\r\n"
                                  "No: leave those users as they are and update the others.\r\n"
                                  "Cancel: go back without updating anyone.")
                       .arg(missing)
                       .arg(m_job->currentPlan().accounts.size())
                       .arg(example),
                   vbYesNoCancel | vbQuestion, modMain::AppCaption());
        if (answer != MsgBoxAnswer::Yes && answer != MsgBoxAnswer::No) {
            setStep2Enabled(true);
            return;
        }
        m_job->setCreateMissing(answer == MsgBoxAnswer::Yes);
    }
    frmeStep1->hide();
    frmeStep2->hide();
    frmeStep3->show();
    setCursor(Qt::WaitCursor);
    DisableCloseWindowsButton(this);
    m_errors = 0;
    if (IncludeSubtree == 1)
        ModUsersDeep(SelectedOU);
    else
        ModUsersRootOnly(SelectedOU);
}

void frmLDAPUpdate::runFinished()
{
    m_errors = m_job->errors();
    showLogFailure(m_job->logFailure()); // one box for the run, however many lines were lost
    lblPROGRESS->setText(QStringLiteral("Updates complete."));
    const QString undo = m_job->undoFileName();
    lblRunSummary->setText(
        QStringLiteral("%1.\nLog: %2.txt\nUndo file: %3")
            .arg(m_job->summary().text(), HomePathUpdate::logNameNow(),
                 undo.isEmpty() ? QStringLiteral("none (nothing was written)") : QFileInfo(undo).fileName()));
    unsetCursor();
    cmdFinish->setEnabled(true);
}

void frmLDAPUpdate::cmdFinish_Click()
{
    UserCount = 0;
    m_finishing = true;
    close();
}

void frmLDAPUpdate::DisableCloseWindowsButton(QWidget* window)
{
    // The close button goes, and close requests of any origin are refused
    // until Finish (closeEvent): the update cannot be stopped half way.
    m_updating = true;
    const bool visible = window->isVisible();
    window->setWindowFlag(Qt::WindowCloseButtonHint, false);
    if (visible)
        window->show();
}

void frmLDAPUpdate::closeEvent(QCloseEvent* event)
{
    // A plan or folder check under way finishes first: the job's thread must not outlive the form's data.
    if ((m_updating && !m_finishing) || isBusy()) {
        event->ignore();
        return;
    }
    event->accept();
    modMain::ShowMainMenu();
}

void frmLDAPUpdate::ModUsersRootOnly(const QString& dn)
{
    modUsers(dn, false, QStringLiteral("Updating User: "));
}

void frmLDAPUpdate::ModUsersDeep(const QString& dn)
{
    modUsers(dn, true, QStringLiteral("Currently User: "));
}

void frmLDAPUpdate::modUsers(const QString& dn, bool deep, const QString& userCaption)
{
    Q_UNUSED(dn);
    Q_UNUSED(deep); // the plan of step 2 holds the accounts and the scope
    m_userCaption = userCaption;
    ProgressBar1->setMaximum(qMax<qsizetype>(1, m_job->currentPlan().accounts.size()));
    // The job runs on its own thread; its end arrives in jobStateChanged().
    m_waiting = Waiting::Run;
    m_job->start();
}

void frmLDAPUpdate::showLogFailure(const modMain::LogResult& written)
{
    if (!written.ok())
        MsgBox(written.message(), vbOKOnly);
}

void frmLDAPUpdate::userDone(int done, int total, const QString& name, const QString& userCaption)
{
    if (total > ProgressBar1->maximum())
        ProgressBar1->setMaximum(total);
    ProgressBar1->setValue(done);
    lblProgressPercent->setText(QStringLiteral("%1%").arg(qint64(done) * 100 / ProgressBar1->maximum()));
    lblPROGRESS->setText(userCaption + name);
}
