#include "app/frmMain.h"
#include "AppTestSupport.h"
#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "app/PictureButton.h"
#include "common/modMain.h"
#include "settings/frmSetup.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace {

// A tool form as every tool is built: deletes itself on close and shows the menu again.
class StandInTool : public QWidget {
public:
    explicit StandInTool(const QString& name)
    {
        setObjectName(name);
        setAttribute(Qt::WA_DeleteOnClose);
        resize(200, 100);
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closes;
        event->accept();
        modMain::ShowMainMenu();
    }

public:
    static inline int closes = 0;
};

class MainMenu : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        modMain::ComposeAppCaption();
        StandInTool::closes = 0;
        frmMain::ShowMenu();
        menu = frmMain::Instance();
        ASSERT_NE(menu, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    }
    void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, w->rect().center()); }
    // Every tool replaced by a stand-in; menuVisibleAtLoad records what the operator saw while each loaded.
    void useStandIns()
    {
        auto make = [this](const QString& name) {
            return [this, name]() -> QWidget* {
                menuVisibleAtLoad[name] = menu->isVisible();
                return new StandInTool(name);
            };
        };
        frmMain::SetToolFactories({make("frmMigrate"), make("frmLDAPUpdate"), make("frmAbout")});
    }
    QPointer<frmMain> menu;
    QMap<QString, bool> menuVisibleAtLoad;
};

} // namespace

TEST_F(MainMenu, showsCaptionPicturesTooltipsAndDescriptions)
{
    EXPECT_EQ(menu->windowTitle(), "Corvane - File Migration Tool v1.0 BETA");
    EXPECT_EQ(menu->size(), QSize(504, 562));
    EXPECT_FALSE(menu->windowIcon().isNull());
    EXPECT_EQ(menu->imgSettings->toolTip(), "Click here to update settings.");
    EXPECT_EQ(menu->imgMigrate->toolTip(), "Click here to migrate files.");
    EXPECT_EQ(menu->imgUpdateAD->toolTip(), "Click here to update Active Directory");
    EXPECT_EQ(menu->imgAbout->toolTip(), "Click here to find out more.");
    EXPECT_EQ(menu->lblSettings->text(), "1. Ensure your Corvane settings are upto date to ensure a smooth file "
                                         "migration and user update");
    EXPECT_EQ(menu->lblMigrate->text(),
              "2. When you are ready to migrate your files simply select this option and away we go.");
    EXPECT_EQ(menu->lblUpdateAD->text(), "3. If you have migrated user home folders use this option to update thier "
                                         "home folder settings within Active Directory.");
    EXPECT_EQ(menu->lblAbout->text(), "About Corvane - File Migration Tool");
    const QString footer = menu->lblFooter->text();
    EXPECT_TRUE(footer.startsWith('"') && footer.endsWith('"')) << footer.toStdString();
    EXPECT_TRUE(footer.contains("Brindle community"));
    EXPECT_EQ(menu->lblFooter->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    for (QLabel* picture :
         {menu->Image1, static_cast<QLabel*>(menu->imgSettings), static_cast<QLabel*>(menu->imgMigrate),
          static_cast<QLabel*>(menu->imgUpdateAD), static_cast<QLabel*>(menu->imgAbout)}) {
        EXPECT_EQ(picture->pixmap().size(), QSize(64, 64)) << picture->objectName().toStdString();
        EXPECT_EQ(picture->geometry().size(), QSize(64, 64));
    }
    EXPECT_EQ(menu->imgMigrate->geometry().topLeft(), QPoint(96, 224));
    // The tools open with the mouse only.
    for (QWidget* w : menu->findChildren<QWidget*>())
        EXPECT_EQ(w->focusPolicy(), Qt::NoFocus) << w->objectName().toStdString();
}

TEST_F(MainMenu, settingsButtonOpensTheSettingsFormAndItsCloseBringsTheMenuBack)
{
    TempAppFolder app;
    click(menu->imgSettings);
    EXPECT_FALSE(menu->isVisible());
    const QList<QWidget*> shown = visibleWindows();
    ASSERT_EQ(shown.size(), 1);
    QPointer<QWidget> setup = shown[0];
    EXPECT_EQ(setup->objectName(), "frmSetup");
    setup->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return setup.isNull(); }, 2000));
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(frmMain::Instance(), menu.data()); // the same menu, hidden not unloaded
    EXPECT_EQ(menu->windowTitle(), "Corvane - File Migration Tool v1.0 BETA");

    // A second opening starts with a fresh form.
    click(menu->imgSettings);
    EXPECT_EQ(visibleWindows("frmSetup").size(), 1);
    EXPECT_NE(visibleWindows("frmSetup").value(0), setup.data());
}

TEST_F(MainMenu, eachToolButtonHidesTheMenuAndTheToolShowsItAgain)
{
    useStandIns();
    const std::pair<PictureButton*, QString> buttons[] = {
        {menu->imgMigrate, "frmMigrate"}, {menu->imgUpdateAD, "frmLDAPUpdate"}, {menu->imgAbout, "frmAbout"}};
    for (const auto& [button, name] : buttons) {
        click(button);
        EXPECT_FALSE(menu->isVisible()) << name.toStdString();
        const QList<QWidget*> shown = visibleWindows();
        ASSERT_EQ(shown.size(), 1) << name.toStdString();
        EXPECT_EQ(shown[0]->objectName(), name);
        QPointer<QWidget> tool = shown[0];
        tool->close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return tool.isNull(); }, 2000)) << name.toStdString();
        EXPECT_TRUE(menu->isVisible()) << name.toStdString();
        EXPECT_EQ(visibleWindows().size(), 1);
    }
    // Only the wizard loads while the menu is still up.
    EXPECT_TRUE(menuVisibleAtLoad.value("frmLDAPUpdate"));
    EXPECT_FALSE(menuVisibleAtLoad.value("frmMigrate"));
    EXPECT_FALSE(menuVisibleAtLoad.value("frmAbout"));
}

TEST_F(MainMenu, aToolThatIsNotAvailableLeavesTheMenuUpAndSaysSo)
{
    frmMain::SetToolFactories({[] { return nullptr; }, [] { return nullptr; },
                               [] {
                                   return nullptr;
                               }});
    for (PictureButton* button : {menu->imgMigrate, menu->imgUpdateAD, menu->imgAbout}) {
        ScriptedMsgBox boxes{MsgBoxAnswer::OK};
        click(button);
        ASSERT_EQ(boxes.calls().size(), 1u) << button->objectName().toStdString();
        EXPECT_TRUE(boxes.calls()[0].text.endsWith(" is not available in this version of Corvane."));
        EXPECT_EQ(boxes.calls()[0].title, modMain::AppCaption());
        EXPECT_TRUE(menu->isVisible());
        EXPECT_EQ(visibleWindows().size(), 1);
    }
}

TEST_F(MainMenu, theToolsOfThisBuildNeverLeaveTheOperatorWithoutAWindow)
{
    // Whatever the build wires in: a tool window, or the menu with a word why not.
    for (PictureButton* button : {menu->imgMigrate, menu->imgUpdateAD, menu->imgAbout}) {
        ScriptedMsgBox boxes{MsgBoxAnswer::OK, MsgBoxAnswer::OK};
        click(button);
        const QList<QWidget*> shown = visibleWindows();
        ASSERT_FALSE(shown.isEmpty()) << button->objectName().toStdString();
        if (menu->isVisible())
            continue;
        for (QWidget* w : shown)
            w->close();
        EXPECT_TRUE(QTest::qWaitFor([&] { return menu->isVisible(); }, 2000));
    }
}

TEST_F(MainMenu, descriptionLabelsDoNothingWhenClicked)
{
    useStandIns();
    for (QLabel* label : {menu->lblSettings, menu->lblMigrate, menu->lblUpdateAD, menu->lblAbout, menu->Label1})
        click(label);
    EXPECT_TRUE(menu->isVisible());
    EXPECT_EQ(visibleWindows().size(), 1);
    EXPECT_TRUE(menuVisibleAtLoad.isEmpty());
}

TEST_F(MainMenu, closeBoxAnsweredNoKeepsEverything)
{
    StandInTool other("frmOther");
    other.setAttribute(Qt::WA_DeleteOnClose, false);
    other.show();
    ScriptedMsgBox boxes{MsgBoxAnswer::No};
    clickCloseBox(menu);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "Are you sure you want to Exit?");
    EXPECT_EQ(boxes.calls()[0].style, vbYesNo | vbQuestion);
    EXPECT_EQ(boxes.calls()[0].title, "Corvane - File Migration Tool v1.0 BETA");
    QTest::qWait(20);
    ASSERT_FALSE(menu.isNull());
    EXPECT_TRUE(menu->isVisible());
    EXPECT_TRUE(other.isVisible());
    EXPECT_EQ(StandInTool::closes, 0);
}

TEST_F(MainMenu, closeBoxAnsweredYesClosesEveryFormAndEndsTheProgram)
{
    QPointer<QWidget> other = new StandInTool("frmOther");
    other->show();
    QPointer<QWidget> hidden = new StandInTool("frmHidden"); // loaded but not shown
    ScriptedMsgBox boxes{MsgBoxAnswer::Yes};
    // The program's event loop ends once its last window has closed.
    QTimer::singleShot(0, [&] { clickCloseBox(menu); });
    QTimer::singleShot(10000, [] { QApplication::exit(99); });
    const int rc = QApplication::exec();
    EXPECT_EQ(rc, 0) << "the program did not end";
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(other.isNull());
    EXPECT_TRUE(hidden.isNull());
    EXPECT_EQ(StandInTool::closes, 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); }, 2000));
    EXPECT_TRUE(visibleWindows().isEmpty());
    EXPECT_EQ(frmMain::Instance(), nullptr);
}

TEST_F(MainMenu, aCloseFromTheProgramAsksNothing)
{
    ScriptedMsgBox boxes; // any box fails the test
    EXPECT_TRUE(menu->close());
    EXPECT_TRUE(boxes.calls().empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); }, 2000));
}

TEST_F(MainMenu, pictureButtonsShowTheCursorFromPointCur)
{
    TempAppFolder app;
    ASSERT_TRUE(QFile::copy(CORVANE_SOURCE_DIR "/resources/point.cur", app.path() + "/point.cur"));
    for (PictureButton* button : {menu->imgSettings, menu->imgMigrate, menu->imgUpdateAD, menu->imgAbout}) {
        QTest::mouseMove(button, button->rect().center());
        ASSERT_TRUE(QTest::qWaitFor([&] { return button->cursor().shape() == Qt::BitmapCursor; }, 2000))
            << button->objectName().toStdString();
        EXPECT_EQ(button->cursor().hotSpot(), QPoint(12, 1));
        EXPECT_EQ(button->cursor().pixmap().size(), QSize(32, 32));
    }
    // The cursor belongs to the buttons: labels and the window keep the arrow.
    EXPECT_EQ(menu->lblSettings->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(menu->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MainMenu, withoutPointCurTheButtonsShowThePointingHand)
{
    TempAppFolder app; // no point.cur in it
    QTest::mouseMove(menu->imgAbout, menu->imgAbout->rect().center());
    ASSERT_TRUE(QTest::qWaitFor([&] { return menu->imgAbout->cursor().shape() == Qt::PointingHandCursor; }, 2000));
}

TEST_F(MainMenu, aToolThatGivesUpWhileLoadingLeavesTheMenuUp)
{
    // A tool that cannot start (no directory, say) closes itself during its load.
    auto givesUp = [](const QString& name) {
        return [name]() -> QWidget* {
            auto* tool = new StandInTool(name);
            tool->close();
            return tool;
        };
    };
    frmMain::SetToolFactories({givesUp("frmMigrate"), givesUp("frmLDAPUpdate"), givesUp("frmAbout")});
    for (PictureButton* button : {menu->imgMigrate, menu->imgUpdateAD, menu->imgAbout}) {
        ScriptedMsgBox boxes;
        click(button);
        QTest::qWait(20); // let the closed tool go
        EXPECT_TRUE(menu->isVisible()) << button->objectName().toStdString();
        EXPECT_EQ(visibleWindows().size(), 1) << button->objectName().toStdString();
        EXPECT_TRUE(boxes.calls().empty());
    }
    EXPECT_EQ(StandInTool::closes, 3);
}
