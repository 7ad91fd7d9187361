#include "settings/frmSetup.h"

#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "common/modMain.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The settings form, opened from a menu that counts how often it is shown again.
class SettingsForm : public ::testing::Test {
protected:
    void SetUp() override
    {
        modMain::SetMainMenuHandler([this] { ++menuShown; });
    }
    void TearDown() override
    {
        delete form.data();
        modMain::SetMainMenuHandler(nullptr);
    }
    void open(const QByteArray& ini = {})
    {
        if (!ini.isEmpty()) {
            QFile f(app->iniFile());
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(ini);
        }
        form = new frmSetup;
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    void fill(const QString& group, const QString& path)
    {
        form->txtUsername->clear();
        QTest::keyClicks(form->txtUsername, group);
        form->txtPassword->clear();
        QTest::keyClicks(form->txtPassword, path);
        QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton);
    }
    bool closed()
    {
        return QTest::qWaitFor([&] { return form.isNull(); }, 2000);
    }
    std::unique_ptr<TempAppFolder> app = std::make_unique<TempAppFolder>();
    QPointer<frmSetup> form;
    int menuShown = 0;
};

} // namespace

TEST_F(SettingsForm, checksBothBoxesBeforeSavingAndThenReturnsToTheMenu)
{
    const QByteArray before = "[SETTINGS]\nadmgrp=old\nUserPath=/old/\n";
    open(before);
    EXPECT_EQ(form->txtUsername->text(), "old");
    EXPECT_EQ(form->txtPassword->text(), "/old/");
    ScriptedMsgBox none;
    fill("", "/p");
    EXPECT_TRUE(form->lblLDAPUserErr->isVisible());
    EXPECT_FALSE(form->lblLDAPPassErr->isVisible());
    fill("g", "");
    EXPECT_TRUE(form->lblLDAPUserErr->isVisible()); // stays up until the form closes
    EXPECT_TRUE(form->lblLDAPPassErr->isVisible());
    EXPECT_TRUE(none.calls().empty());
    EXPECT_EQ(app->readFile("settings/corvane.ini"), before);
    EXPECT_EQ(menuShown, 0);

    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    fill("Domain Admins", "/srv/home");
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "Settings Saved");
    EXPECT_EQ(boxes.calls()[0].style, vbOKOnly | vbInformation);
    EXPECT_EQ(app->readFile("settings/corvane.ini"),
              QByteArray("[SETTINGS]\nadmgrp=Domain Admins\nUserPath=/srv/home\n"));
    EXPECT_TRUE(closed());
    EXPECT_EQ(menuShown, 1);
}

TEST_F(SettingsForm, failedSaveNamesTheFileAndKeepsTheFormOpen)
{
    app.reset();
    app = std::make_unique<TempAppFolder>(false); // no settings folder beside the program
    open();
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    fill("g", "/p/");
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(boxes.calls()[0].text.contains(app->iniFile())) << boxes.calls()[0].text.toStdString();
    EXPECT_EQ(boxes.calls()[0].icon(), vbCritical);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->txtUsername->text(), "g");
    EXPECT_EQ(menuShown, 0);
    EXPECT_FALSE(QFileInfo::exists(app->path() + "/settings"));
}
