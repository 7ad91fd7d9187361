// Run by AppFolderLinksTest from a copied program folder: reports where it
// finds its folder, then writes a log line and a setting there as the program does.
#include "common/modMain.h"
#include "settings/modINI.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString file = modINI::SettingsFile();
    std::printf("folder=%s\n", qPrintable(modMain::ApplicationFolder()));
    std::printf("settings=%s\n", qPrintable(file));
    std::printf("UserPath=%s\n",
                qPrintable(modINI::ReadINI(QStringLiteral("SETTINGS"), QStringLiteral("UserPath"), file)));
    const modMain::LogResult logged = modMain::WriteLog(QStringLiteral("probe line"), QStringLiteral("probe"));
    std::printf("logged=%d\n", logged.ok() ? 1 : 0);
    const bool saved =
        modINI::WriteINI(QStringLiteral("SETTINGS"), QStringLiteral("AdmGrp"), QStringLiteral("Probe Admins"), file);
    std::printf("saved=%d %s\n", saved ? 1 : 0, qPrintable(modINI::LastWriteError()));
    return 0;
}
