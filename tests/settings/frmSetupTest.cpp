#include "settings/frmSetup.h"

#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "common/modMain.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

TEST(SettingsForm, reportsSavedOnlyAfterBothValuesWereWrittenAndNamesTheFileOtherwise)
{
    TempAppFolder app;
    const QByteArray before = "[SETTINGS]\nadmgrp=old\nUserPath=/old/\n";
    ASSERT_TRUE(app.writeFile("settings/corvane.ini", before));
    int menuShown = 0;
    modMain::SetMainMenuHandler([&] { ++menuShown; });
    QPointer<frmSetup> form = new frmSetup;
    form->show();
    const auto fill = [&](const QString& group, const QString& path) {
        form->txtUsername->setText(group);
        form->txtPassword->setText(path);
        QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton);
    };
    EXPECT_EQ(form->txtPassword->text(), "/old/");
    // Built from the version on load, even before the program composed its caption (as here).
    EXPECT_EQ(form->windowTitle(), "Corvane - File Migration Tool v1.0 BETA");
    // Centred to within the window frame's border (the frame is placed from the client area's size).
    const QPoint offCentre = form->geometry().center() - form->screen()->availableGeometry().center();
    const int border = form->frameGeometry().width() - form->width();
    EXPECT_LE(offCentre.manhattanLength(), border) << offCentre.x() << "," << offCentre.y();
    {
        ScriptedMsgBox none; // an empty box shows its label, never a message box, and saves nothing
        fill("", "/p");
        EXPECT_TRUE(form->lblLDAPUserErr->isVisible());
        EXPECT_EQ(app.readFile("settings/corvane.ini"), before);
    }
    // Longer than a read gives back, or a path the update would refuse: refused
    // with a message naming the rule before anything is written.
    const std::pair<QString, QString> refusals[] = {
        {QString(255, 'p'), "The User Folder Path is 255 characters long, but a setting can hold at most 254 "
                            "characters. Please shorten it; nothing was saved."},
        {QString("/p/") + QChar(0), "The User Folder Path cannot be used: the user path holds a control character. "
                                    "Nothing was saved."},
        {"/srv/home", "The User Folder Path cannot be used: the user path must end with /, or each logon name is "
                      "glued to its last folder's name. Nothing was saved."}};
    for (const auto& [path, text] : refusals) {
        ScriptedMsgBox box{MsgBoxAnswer::OK};
        fill("g", path);
        EXPECT_EQ(box.texts(), QStringList{text});
        EXPECT_EQ(box.calls().at(0).icon(), vbExclamation);
        EXPECT_EQ(app.readFile("settings/corvane.ini"), before);
    }
    ScriptedMsgBox boxes{MsgBoxAnswer::OK, MsgBoxAnswer::OK};
    ASSERT_TRUE(QDir(app.path() + "/settings").removeRecursively()); // the write fails: the file is named
    fill("g", "/p/");
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].icon(), vbCritical);
    EXPECT_TRUE(boxes.calls()[0].text.contains(app.iniFile())) << boxes.calls()[0].text.toStdString();
    EXPECT_EQ(menuShown, 0); // the form stays open
    ASSERT_TRUE(QDir(app.path()).mkdir("settings"));
    ASSERT_TRUE(app.writeFile("settings/corvane.ini", before));

    fill("Domain Admins", "/srv/home/");
    EXPECT_EQ(boxes.texts().value(1), "Settings Saved");
    EXPECT_EQ(app.readFile("settings/corvane.ini"),
              QByteArray("[SETTINGS]\nadmgrp=Domain Admins\nUserPath=/srv/home/\n"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.isNull(); }, 2000));
    EXPECT_EQ(menuShown, 1);
    modMain::SetMainMenuHandler(nullptr);
}
