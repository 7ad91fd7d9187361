#include "frmSetup.h"

#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/modMain.h"
#include "directory_update/HomePath.h"
#include "settings/AppSettings.h"
#include "settings/modINI.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace FormKit;

namespace {
void setErrorColour(QWidget* w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, QColor(0xc0, 0x00, 0x00));
    w->setPalette(p);
}
} // namespace

frmSetup::frmSetup(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("frmSetup"));
    setAttribute(Qt::WA_DeleteOnClose);
    createControls();
    Form_Load();
}

void frmSetup::createControls()
{
    setFixedSize(tw(5580), tw(4290));
    setFont(formFont(8.25));
    setWhiteBackground(this);

    lblStep1 = makeLabel(this, QStringLiteral("lblStep1"), twRect(240, 120, 1950, 300), "Corvane Settings", 12);
    setHighlightColour(lblStep1);

    frmeAuth = makeFrame(this, QStringLiteral("frmeAuth"), twRect(240, 600, 5055, 2055), "Connection");
    setWhiteBackground(frmeAuth);
    lblUsername = makeLabel(frmeAuth, QStringLiteral("lblUsername"), twRect(120, 480, 960, 195), "Admin Group:");
    txtUsername = makeTextBox(frmeAuth, QStringLiteral("txtUsername"), twRect(1560, 480, 3255, 285));
    lblLDAPUserErr =
        makeLabel(frmeAuth, QStringLiteral("lblLDAPUserErr"), twRect(1560, 840, 1650, 195), "You must enter a group");
    setErrorColour(lblLDAPUserErr);
    lblLDAPUserErr->hide();
    lblPassword = makeLabel(frmeAuth, QStringLiteral("lblPassword"), twRect(120, 1080, 1230, 195), "User Folder Path:");
    txtPassword = makeTextBox(frmeAuth, QStringLiteral("txtPassword"), twRect(1560, 1080, 3255, 285));
    lblLDAPPassErr = makeLabel(frmeAuth, QStringLiteral("lblLDAPPassErr"), twRect(1560, 1440, 2085, 195),
                               "You must enter a server path.");
    setErrorColour(lblLDAPPassErr);
    lblLDAPPassErr->hide();

    cmdLDAPConnect = makeButton(this, QStringLiteral("cmdLDAPConnect"), twRect(3840, 3000, 1455, 375), "Save");
    lblFooter = makeFooter(this, twRect(120, 3840, 5340, 240));
    fitLabels(this);

    // Only the two boxes and Save take the keyboard, in this order.
    for (QWidget* w : findChildren<QWidget*>())
        w->setFocusPolicy(Qt::NoFocus);
    txtUsername->setFocusPolicy(Qt::StrongFocus);
    txtPassword->setFocusPolicy(Qt::StrongFocus);
    cmdLDAPConnect->setFocusPolicy(Qt::StrongFocus);
    setTabOrder(txtUsername, txtPassword);
    setTabOrder(txtPassword, cmdLDAPConnect);

    connect(cmdLDAPConnect, &QPushButton::clicked, this, &frmSetup::cmdLDAPConnect_Click);
}

void frmSetup::Form_Load()
{
    setBuiltCaption(this);
    const AppSettings stored = AppSettings::load();
    if (!stored.loadError.isEmpty())
        MsgBox(stored.loadError, vbOKOnly | vbExclamation, windowTitle());
    txtUsername->setText(stored.adminGroup);
    txtPassword->setText(stored.userPath);
}

void frmSetup::cmdLDAPConnect_Click()
{
    // Empty means empty: blanks pass, and values are stored exactly as typed.
    if (txtUsername->text().isEmpty()) {
        lblLDAPUserErr->show();
        return;
    }
    if (txtPassword->text().isEmpty()) {
        lblLDAPPassErr->show();
        return;
    }
    // A longer value would be read back cut short, and the update would use another path
    // than the one shown here: refuse it before anything is written.
    for (const auto& [box, caption] : {std::pair{txtUsername, lblUsername}, std::pair{txtPassword, lblPassword}}) {
        if (box->text().size() > modINI::MaxValueLength) {
            MsgBox(QStringLiteral("The %1 is %2 characters long, but a setting can hold at most %3 characters. "
                                  "Please shorten it; nothing was saved.")
                       .arg(caption->text().chopped(1))
                       .arg(box->text().size())
                       .arg(modINI::MaxValueLength),
                   vbOKOnly | vbExclamation, windowTitle());
            box->setFocus();
            return;
        }
    }
    // A path the update would refuse is refused here, with the rule it breaks.
    if (const QString problem = HomePath::userPathProblem(txtPassword->text()); !problem.isEmpty()) {
        MsgBox(QStringLiteral("The User Folder Path cannot be used: %1. Nothing was saved.").arg(problem),
               vbOKOnly | vbExclamation, windowTitle());
        txtPassword->setFocus();
        return;
    }
    const QString file = AppSettings::file();
    // A failed write is told, not covered by "Settings Saved": the directory update
    // would otherwise run later with settings the operator believes were stored.
    QString why;
    if (!AppSettings{txtUsername->text(), txtPassword->text(), {}}.save(file, &why)) {
        MsgBox(QStringLiteral("The settings could not be saved to %1\n\n%2\n\nCheck that the settings folder "
                              "exists beside the program and that you may write to it.")
                   .arg(file, why),
               vbOKOnly | vbCritical, windowTitle());
        return;
    }
    MsgBox(QStringLiteral("Settings Saved"), vbOKOnly | vbInformation, QStringLiteral("Settings Saved"));
    close();
}

void frmSetup::closeEvent(QCloseEvent* event)
{
    // However the form closes, the menu comes back and nothing is written.
    event->accept();
    modMain::ShowMainMenu();
}

void frmSetup::showEvent(QShowEvent* event)
{
    if (!m_centred) {
        m_centred = true;
        centreOnScreen(this);
    }
    QWidget::showEvent(event);
}
