#include "Startup.h"

#include "app/InstanceLock.h"
#include "app/frmSplash.h"
#include "common/MsgBox.h"
#include "common/modMain.h"

namespace modMain {
namespace {
InstanceLock& instanceLock()
{
    static InstanceLock lock;
    return lock;
}
} // namespace

void Main()
{
    // Qt's widgets need no control library prepared first: the single-instance check comes first.
    if (instanceLock().tryAcquire(ApplicationFolder()) == InstanceLock::Result::HeldElsewhere) {
        MsgBox(QStringLiteral("Corvane is already running"), vbOKOnly, CaptionWithoutBeta());
        return;
    }
    auto* splash = new frmSplash;
    splash->show();
    // Composed after the splash is up and before any event runs, so every later
    // form finds it set.
    ComposeAppCaption();
}

void ReleaseInstanceLock()
{
    instanceLock().release();
}

} // namespace modMain
