// The wizard's window: its controls, the page shown, and when it may close.
#include "frmLDAPUpdate.h"

#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/modMain.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>

using namespace FormKit;

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

    // The three steps share one place on the window; one is shown at a time.
    const QRect frame = twRect(240, 2460, 6915, 5580);
    createStep1(frame);
    createStep2(frame);
    createStep3(frame);

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

void frmLDAPUpdate::createStep1(const QRect& frame)
{
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
}

void frmLDAPUpdate::createStep2(const QRect& frame)
{
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
}

void frmLDAPUpdate::createStep3(const QRect& frame)
{
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

bool frmLDAPUpdate::isBusy() const
{
    return m_waiting != Waiting::Nothing;
}

void frmLDAPUpdate::showLogFailure(const modMain::LogResult& written)
{
    if (!written.ok())
        MsgBox(written.message(), vbOKOnly);
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
