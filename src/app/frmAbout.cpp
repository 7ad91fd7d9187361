#include "frmAbout.h"

#include "Version.h"
#include "common/Browser.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "liveupdate/frmUpdate.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

using namespace FormKit;

namespace {

QLabel* heading(QWidget* parent, const QString& name, const QRect& px, const QString& caption)
{
    QLabel* l = makeLabel(parent, name, px, caption, 12);
    setHighlightColour(l);
    return l;
}

QString hostOf(const char* site)
{
    return QUrl(QString::fromUtf8(site)).host();
}

} // namespace

frmAbout::frmAbout(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(tw(7560), tw(6510));
    setWhiteBackground(this);
    createControls();
    Form_Load();
}

void frmAbout::createControls()
{
    std::tie(Image1, Label1, lblTitle2) = makeTitleBlock(this, 240, 120);

    frmeCredits =
        makeFrame(this, QStringLiteral("frmeCredits"), twRect(1200, 1440, 5055, 2775), QStringLiteral("Credits"));
    setWhiteBackground(frmeCredits);
    Label3 = heading(frmeCredits, QStringLiteral("Label3"), twRect(240, 360, 900, 300), QStringLiteral("Concept"));
    Label4 = makeLabel(frmeCredits, QStringLiteral("Label4"), twRect(360, 720, 1830, 195),
                       QStringLiteral("Brindle school admins"));
    lblCredit1 = heading(frmeCredits, QStringLiteral("lblCredit1"), twRect(240, 1080, 2445, 300),
                         QStringLiteral("Design && Programming"));
    lblCredit3 = makeLabel(frmeCredits, QStringLiteral("lblCredit3"), twRect(360, 1440, 3075, 195),
                           QStringLiteral("The Corvane developers (Tarnwell)"));
    lblCredit2 =
        heading(frmeCredits, QStringLiteral("lblCredit2"), twRect(240, 1800, 1260, 300), QStringLiteral("With thanks"));
    lblCredit4 = makeLabel(frmeCredits, QStringLiteral("lblCredit4"), twRect(360, 2160, 4170, 195),
                           QStringLiteral("Brindle community and testers, ") + hostOf(corvane::build::siteForums));

    frmeWebsites =
        makeFrame(this, QStringLiteral("frmeWebsites"), twRect(1200, 4320, 5055, 1575), QStringLiteral("Websites"));
    setWhiteBackground(frmeWebsites);
    Picture1 = makePanel(frmeWebsites, QStringLiteral("Picture1"), twRect(120, 240, 4815, 1215));
    cmdTarnwellSite =
        makeButton(Picture1, QStringLiteral("cmdTarnwellSite"), twRect(0, 120, 1335, 375), QStringLiteral("Tarnwell"));
    cmdBrindleProjects = makeButton(Picture1, QStringLiteral("cmdBrindleProjects"), twRect(1560, 120, 1575, 375),
                                    QStringLiteral("Brindle Projects"));
    cmdBrindleForums = makeButton(Picture1, QStringLiteral("cmdBrindleForums"), twRect(3360, 120, 1455, 375),
                                  QStringLiteral("Brindle Forums"));
    cmdUpdate = makeButton(Picture1, QStringLiteral("cmdUpdate"), twRect(1560, 720, 1575, 375),
                           QStringLiteral("Check For Updates"));
    setTabOrder(cmdTarnwellSite, cmdBrindleProjects);
    setTabOrder(cmdBrindleProjects, cmdBrindleForums);
    setTabOrder(cmdBrindleForums, cmdUpdate);

    lblFooter = makeFooter(this, twRect(1080, 6120, 5340, 240));
    fitLabels(this);

    connect(cmdTarnwellSite, &QPushButton::clicked, this, &frmAbout::cmdTarnwellSite_Click);
    connect(cmdBrindleProjects, &QPushButton::clicked, this, &frmAbout::cmdBrindleProjects_Click);
    connect(cmdBrindleForums, &QPushButton::clicked, this, &frmAbout::cmdBrindleForums_Click);
    connect(cmdUpdate, &QPushButton::clicked, this, &frmAbout::cmdUpdate_Click);
}

void frmAbout::Form_Load()
{
    setCaption(this);
}

void frmAbout::cmdBrindleForums_Click()
{
    OpenUrl(QUrl(QString::fromUtf8(corvane::build::siteForums)));
}

void frmAbout::cmdBrindleProjects_Click()
{
    OpenUrl(QUrl(QString::fromUtf8(corvane::build::siteProjects)));
}

void frmAbout::cmdTarnwellSite_Click()
{
    OpenUrl(QUrl(QString::fromUtf8(corvane::build::siteTarnwell)));
}

void frmAbout::cmdUpdate_Click()
{
    // Owned by the about box and modal to it; it deletes itself when it closes.
    auto* dialog = new frmUpdate(this);
    dialog->exec();
}

void frmAbout::showEvent(QShowEvent* event)
{
    if (!m_centred && !parentWidget()) {
        m_centred = true;
        centreOnScreen(this);
    }
    QWidget::showEvent(event);
}

void frmAbout::closeEvent(QCloseEvent* event)
{
    // Never cancelled: the menu comes back and the box goes.
    modMain::ShowMainMenu();
    event->accept();
}
