#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

// Base for the shell's GUI tests: a private runtime folder for the instance
// lock, the real main menu behind modMain::ShowMainMenu(), and no window left
// over for the next test.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Visible top-level windows with the given object name.
    static QList<QWidget*> visibleWindows(const QString& objectName = QString());
    // Delivers a close-box click the way the window system does.
    static void clickCloseBox(QWidget* window);

    QTemporaryDir runtimeDir;
    QByteArray savedRuntimeDir;
};
