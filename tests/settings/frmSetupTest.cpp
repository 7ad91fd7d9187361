#include "settings/frmSetup.h"

#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "common/modMain.h"
#include "settings/modINI.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// The settings form as the operator meets it: opened from a menu that counts
// how often it is shown again.
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
    void open()
    {
        form = new frmSetup;
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }
    void typeInto(QLineEdit* box, const QString& text)
    {
        box->clear();
        QTest::keyClicks(box, text);
    }
    void save() { QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton); }
    bool closed()
    {
        return QTest::qWaitFor([&] { return form.isNull(); }, 2000);
    }
    void writeIni(const QByteArray& bytes)
    {
        QFile f(app->iniFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    std::unique_ptr<TempAppFolder> app = std::make_unique<TempAppFolder>();
    QPointer<frmSetup> form;
    int menuShown = 0;
};

} // namespace

TEST_F(SettingsForm, loadsCaptionAndBothValuesFromTheSettingsFile)
{
    writeIni("[SETTINGS]\nAdmGrp=Staff Admins\nUserPath=\\\\fs1\\home$\\\n");
    open();
    EXPECT_EQ(form->windowTitle(), "Corvane - File Migration Tool v1.0 BETA");
    EXPECT_EQ(form->txtUsername->text(), "Staff Admins");
    EXPECT_EQ(form->txtPassword->text(), "\\\\fs1\\home$\\");
    EXPECT_FALSE(form->lblLDAPUserErr->isVisible());
    EXPECT_FALSE(form->lblLDAPPassErr->isVisible());
    EXPECT_EQ(form->txtPassword->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(form->size(), QSize(372, 286));
    EXPECT_EQ(form->frmeAuth->title(), "Connection");
    EXPECT_EQ(form->cmdLDAPConnect->text(), "Save");
    EXPECT_TRUE(form->lblFooter->text().startsWith('"'));
    EXPECT_TRUE(form->lblFooter->text().endsWith('"'));
    EXPECT_TRUE(form->lblFooter->text().contains("Brindle"));
}

TEST_F(SettingsForm, tabOrderRunsThroughTheTwoBoxesAndSave)
{
    open();
    form->activateWindow();
    form->txtUsername->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->txtUsername->hasFocus(); }, 2000));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(form->txtPassword->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(form->cmdLDAPConnect->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_TRUE(form->txtUsername->hasFocus());
}

TEST_F(SettingsForm, firstSaveCreatesTheFileWithGroupThenPathAndReturnsToTheMenu)
{
    open();
    EXPECT_EQ(form->txtUsername->text(), "");
    EXPECT_EQ(form->txtPassword->text(), "");
    typeInto(form->txtUsername, "Domain Admins");
    typeInto(form->txtPassword, "/srv/home");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    save();
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "Settings Saved");
    EXPECT_EQ(boxes.calls()[0].title, "Settings Saved");
    EXPECT_EQ(boxes.calls()[0].style, vbOKOnly | vbInformation);
    // The path is stored without the trailing separator the operator did not type.
    EXPECT_EQ(app->readFile("settings/corvane.ini"),
              QByteArray("[SETTINGS]\nAdmGrp=Domain Admins\nUserPath=/srv/home\n"));
    EXPECT_TRUE(closed());
    EXPECT_EQ(menuShown, 1);
}

TEST_F(SettingsForm, emptyGroupShowsOnlyTheGroupErrorAndWritesNothing)
{
    open();
    ScriptedMsgBox boxes;
    save();
    EXPECT_TRUE(form->lblLDAPUserErr->isVisible());
    EXPECT_EQ(form->lblLDAPUserErr->text(), "You must enter a group");
    EXPECT_FALSE(form->lblLDAPPassErr->isVisible());
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_FALSE(QFile::exists(app->iniFile()));
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(menuShown, 0);
}

TEST_F(SettingsForm, emptyPathShowsThePathErrorAndLeavesTheFileAsItWas)
{
    const QByteArray before = "[SETTINGS]\nAdmGrp=old\nUserPath=/old/\n";
    writeIni(before);
    open();
    typeInto(form->txtUsername, "new");
    form->txtPassword->clear();
    ScriptedMsgBox boxes;
    save();
    EXPECT_FALSE(form->lblLDAPUserErr->isVisible());
    EXPECT_TRUE(form->lblLDAPPassErr->isVisible());
    EXPECT_EQ(form->lblLDAPPassErr->text(), "You must enter a server path.");
    EXPECT_EQ(app->readFile("settings/corvane.ini"), before);
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(SettingsForm, errorLabelStaysVisibleUntilASaveClosesTheForm)
{
    open();
    save();
    ASSERT_TRUE(form->lblLDAPUserErr->isVisible());
    typeInto(form->txtUsername, "g");
    save(); // now the path is missing: both labels show
    EXPECT_TRUE(form->lblLDAPUserErr->isVisible());
    EXPECT_TRUE(form->lblLDAPPassErr->isVisible());
    typeInto(form->txtPassword, "   ");
    EXPECT_TRUE(form->lblLDAPPassErr->isVisible());
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    save(); // blanks are a value: they pass the check and are stored as typed
    EXPECT_EQ(boxes.texts(), QStringList{"Settings Saved"});
    EXPECT_TRUE(closed());
    EXPECT_EQ(modINI::ReadINI("SETTINGS", "AdmGrp", app->iniFile()), "g");
    EXPECT_TRUE(app->readFile("settings/corvane.ini").contains("UserPath=   \n"));
}

TEST_F(SettingsForm, failedSaveNamesTheFileAndKeepsTheFormOpen)
{
    app.reset();
    app = std::make_unique<TempAppFolder>(false); // no settings folder beside the program
    open();
    typeInto(form->txtUsername, "g");
    typeInto(form->txtPassword, "/p/");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    save();
    ASSERT_EQ(boxes.calls().size(), 1u);
    const MsgBoxCall& box = boxes.calls()[0];
    EXPECT_TRUE(box.text.contains(app->iniFile())) << box.text.toStdString();
    EXPECT_NE(box.text, "Settings Saved");
    EXPECT_EQ(box.icon(), vbCritical);
    EXPECT_EQ(box.buttons(), vbOKOnly);
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(form->txtUsername->text(), "g"); // nothing the operator typed is lost
    EXPECT_EQ(menuShown, 0);
    EXPECT_FALSE(QFileInfo::exists(app->path() + "/settings"));
}

TEST_F(SettingsForm, closingDiscardsEditsAndShowsTheMenu)
{
    const QByteArray before = "[SETTINGS]\nAdmGrp=kept\nUserPath=/kept/\n";
    writeIni(before);
    open();
    typeInto(form->txtUsername, "edited");
    typeInto(form->txtPassword, "/edited/");
    ScriptedMsgBox boxes;
    form->close();
    EXPECT_TRUE(closed());
    EXPECT_EQ(menuShown, 1);
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_EQ(app->readFile("settings/corvane.ini"), before);
    open(); // a fresh form shows the file again
    EXPECT_EQ(form->txtUsername->text(), "kept");
    EXPECT_EQ(form->txtPassword->text(), "/kept/");
    EXPECT_FALSE(form->lblLDAPUserErr->isVisible());
}
