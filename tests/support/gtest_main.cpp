// One main for every test executable: GUI tests run on the offscreen platform
// at 96 dpi, so twips geometry and fonts are the same on every machine.
#include "common/FormKit.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication app(argc, argv);
    // The same stand-in fonts as the program, so text measures as the operator sees it.
    FormKit::InstallFontSubstitutes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
