#include "AppTestSupport.h"

#include "app/Startup.h"
#include "app/frmMain.h"
#include "common/modMain.h"

#include <QApplication>
#include <QPointer>
#include <QWindow>
#include <qpa/qwindowsysteminterface.h>

void ShellTest::SetUp()
{
    savedRuntimeDir = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    frmMain::SetToolFactories(frmMain::DefaultToolFactories());
    frmMain::InstallAsMainMenu();
}

void ShellTest::TearDown()
{
    modMain::SetMainMenuHandler(nullptr);
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        windows.append(w);
    for (const QPointer<QWidget>& w : std::as_const(windows))
        delete w.data();
    modMain::ReleaseInstanceLock();
    frmMain::SetToolFactories(frmMain::DefaultToolFactories());
    if (savedRuntimeDir.isNull())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", savedRuntimeDir);
}

QList<QWidget*> ShellTest::visibleWindows(const QString& objectName)
{
    QList<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && (objectName.isEmpty() || w->objectName() == objectName))
            out.append(w);
    return out;
}

void ShellTest::clickCloseBox(QWidget* window)
{
    ASSERT_NE(window->windowHandle(), nullptr);
    QWindowSystemInterface::handleCloseEvent<QWindowSystemInterface::SynchronousDelivery>(window->windowHandle());
}
