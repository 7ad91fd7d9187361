// Corvane's program: sets up Qt and the seams, then hands over to Main().
#include "app/AppResources.h"
#include "app/Startup.h"
#include "app/frmMain.h"
#include "common/FormKit.h"
#include "common/QtSeams.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    // Form geometry is in twips at 96 dpi; text must fit its boxes on any display.
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Corvane"));
    QApplication::setQuitOnLastWindowClosed(true);
    AppResources::Init();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/icon.png")));
    QtSeams::InstallDefaults();
    FormKit::InstallFontSubstitutes();
    frmMain::InstallAsMainMenu();

    modMain::Main();
    // A refused second copy showed its box and opened nothing: it ends here.
    for (const QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            return QApplication::exec();
    return 0;
}
