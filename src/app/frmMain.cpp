#include "frmMain.h"

#include "app/AppResources.h"
#include "app/PictureButton.h"
#include "app/ToolForms.h"
#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/modMain.h"
#include "settings/frmSetup.h"

#include <QApplication>
#include <QCloseEvent>
#include <QIcon>
#include <QLabel>
#include <QPointer>
#include <QSessionManager>

using namespace FormKit;

namespace {
QPointer<frmMain> g_menu;
// Counts the requests to show the menu: a tool form that gives up while it
// loads closes itself, and its close asks for the menu.
int g_menuRequests = 0;

frmMain::ToolFactories& toolFactories()
{
    static frmMain::ToolFactories factories = frmMain::DefaultToolFactories();
    return factories;
}

QLabel* makeDescription(QWidget* parent, const QString& name, const QRect& px, const QString& text)
{
    QLabel* l = makeLabel(parent, name, px, text, 9);
    l->setWordWrap(true);
    return l;
}
} // namespace

frmMain::ToolFactories frmMain::DefaultToolFactories()
{
    return {CreateMigrateForm, CreateLDAPUpdateForm, CreateAboutForm};
}

void frmMain::SetToolFactories(ToolFactories factories)
{
    toolFactories() = std::move(factories);
}

frmMain* frmMain::Instance()
{
    return g_menu;
}

void frmMain::ShowMenu()
{
    ++g_menuRequests;
    if (!g_menu)
        g_menu = new frmMain;
    else if (g_menu->m_exiting)
        return; // the tools closing during the exit must not bring the menu back
    g_menu->show();
    g_menu->raise();
    g_menu->activateWindow();
}

void frmMain::InstallAsMainMenu()
{
    modMain::SetMainMenuHandler(&frmMain::ShowMenu);
}

frmMain::frmMain()
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
{
    AppResources::Init();
    setObjectName(QStringLiteral("frmMain"));
    setAttribute(Qt::WA_DeleteOnClose);
    createControls();
    fitLabels(this);
    // Logging off or shutting down closes the menu without the question.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { m_sessionEnding = true; });
    Form_Load();
}

void frmMain::createControls()
{
    setFixedSize(tw(7560), tw(8430));
    setFont(formFont(8.25));
    setWhiteBackground(this);
    setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));

    std::tie(Image1, Label1, lblTitle2) = makeTitleBlock(this, 240, 240);

    imgSettings = new PictureButton(this, QStringLiteral("imgSettings"), twRect(1440, 1800, 960, 960),
                                    QStringLiteral(":/images/settings.png"), "Click here to update settings.");
    lblSettings = makeDescription(this, QStringLiteral("lblSettings"), twRect(3000, 1800, 3375, 705),
                                  "1. Ensure your Corvane settings are upto date to ensure a smooth file migration "
                                  "and user update");
    imgMigrate = new PictureButton(this, QStringLiteral("imgMigrate"), twRect(1440, 3360, 960, 960),
                                   QStringLiteral(":/images/migrate.png"), "Click here to migrate files.");
    lblMigrate = makeDescription(this, QStringLiteral("lblMigrate"), twRect(3000, 3360, 3375, 465),
                                 "2. When you are ready to migrate your files simply select this option and away we "
                                 "go.");
    imgUpdateAD = new PictureButton(this, QStringLiteral("imgUpdateAD"), twRect(1440, 4920, 960, 960),
                                    QStringLiteral(":/images/updatead.png"), "Click here to update Active Directory");
    lblUpdateAD = makeDescription(this, QStringLiteral("lblUpdateAD"), twRect(3000, 4920, 3375, 705),
                                  "3. If you have migrated user home folders use this option to update thier home "
                                  "folder settings within Active Directory.");
    imgAbout = new PictureButton(this, QStringLiteral("imgAbout"), twRect(1440, 6480, 960, 960),
                                 QStringLiteral(":/images/about.png"), "Click here to find out more.");
    lblAbout = makeLabel(this, QStringLiteral("lblAbout"), twRect(3000, 6600, 2970, 225),
                         "About Corvane - File Migration Tool", 9);
    lblFooter = makeFooter(this, twRect(1080, 8040, 5340, 240));

    // The tools open with the mouse only.
    for (QWidget* w : findChildren<QWidget*>())
        w->setFocusPolicy(Qt::NoFocus);

    connect(imgSettings, &PictureButton::clicked, this, &frmMain::imgSettings_Click);
    connect(imgMigrate, &PictureButton::clicked, this, &frmMain::imgMigrate_Click);
    connect(imgUpdateAD, &PictureButton::clicked, this, &frmMain::imgUpdateAD_Click);
    connect(imgAbout, &PictureButton::clicked, this, &frmMain::imgAbout_Click);
}

void frmMain::Form_Load()
{
    setCaption(this);
}

void frmMain::imgSettings_Click()
{
    hide();
    openTool([] { return new frmSetup; });
}

void frmMain::imgMigrate_Click()
{
    hide();
    openTool(toolFactories().migrate);
}

void frmMain::imgUpdateAD_Click()
{
    // The wizard loads (and reads the directory) while the menu is still up;
    // the menu hides only once the wizard is ready to show.
    openTool(toolFactories().ldapUpdate, true);
}

void frmMain::imgAbout_Click()
{
    hide();
    openTool(toolFactories().about);
}

void frmMain::openTool(const std::function<QWidget*()>& factory, bool hideAfterLoad)
{
    const int requestsBefore = g_menuRequests;
    QPointer<QWidget> tool(factory());
    if (!tool || g_menuRequests != requestsBefore) {
        // The tool closed itself while loading and has brought the menu back.
        show();
        return;
    }
    if (hideAfterLoad)
        hide();
    tool->show();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (m_exiting) {
        event->accept();
        return;
    }
    // Only a close the operator asked for (close box, system menu, Alt+F4) comes
    // from the window system; the program's own closes and the session's end do not ask.
    if (event->spontaneous() && !m_sessionEnding && !qApp->isSavingSession()) {
        const MsgBoxAnswer answer =
            MsgBox(QStringLiteral("Are you sure you want to Exit?"), vbYesNo | vbQuestion, modMain::AppCaption());
        if (answer != MsgBoxAnswer::Yes) {
            event->ignore();
            return;
        }
        m_exiting = true;
        unloadOtherForms();
    }
    m_exiting = true;
    event->accept();
}

void frmMain::unloadOtherForms()
{
    QList<QPointer<QWidget>> others;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isWindow())
            others.append(w);
    for (const QPointer<QWidget>& w : std::as_const(others))
        if (w)
            w->close();
}

void frmMain::showEvent(QShowEvent* event)
{
    if (!m_centred) {
        m_centred = true;
        centreOnScreen(this);
    }
    QWidget::showEvent(event);
}
