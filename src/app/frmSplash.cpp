#include "frmSplash.h"

#include "app/AppResources.h"
#include "common/FormKit.h"
#include "common/modMain.h"

#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

using namespace FormKit;

frmSplash::frmSplash(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    AppResources::Init();
    setObjectName(QStringLiteral("frmSplash"));
    setAttribute(Qt::WA_DeleteOnClose);
    createControls();
    Form_Load();
    fitLabels(this);
}

void frmSplash::createControls()
{
    setFixedSize(tw(7290), tw(1665));
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(true); // the system window colour

    std::tie(Image1, Label1, lblTitle2) = makeTitleBlock(this, 120, 360);
    lblVersion = makeLabel(this, QStringLiteral("lblVersion"), twRect(6510, 120, 615, 225), "Version", 9);
    lblVersion->setAlignment(Qt::AlignRight | Qt::AlignTop);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(3000);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
}

void frmSplash::Form_Load()
{
    lblVersion->setText(QStringLiteral("v%1.%2.%3 BETA")
                            .arg(modMain::VersionMajor())
                            .arg(modMain::VersionMinor())
                            .arg(modMain::VersionRevision()));
    Timer1->start();
}

void frmSplash::Timer1_Timer()
{
    if (m_handedOver)
        return;
    handOver();
}

void frmSplash::keyPressEvent(QKeyEvent* event)
{
    // Only keys that type a character (Enter, Escape and Backspace included) hand over;
    // Shift, arrows and function keys alone do not.
    if (m_handedOver || event->text().isEmpty()) {
        QWidget::keyPressEvent(event);
        return;
    }
    handOver();
}

void frmSplash::handOver()
{
    // The menu comes up before the splash goes: closing the last visible window
    // would end the program. Deleting the splash takes its timer with it.
    m_handedOver = true;
    Timer1->stop();
    modMain::ShowMainMenu();
    close();
}

void frmSplash::showEvent(QShowEvent* event)
{
    centreOnScreen(this);
    QWidget::showEvent(event);
    activateWindow();
    setFocus();
}
