#include "app/frmMain.h"
#include "AppTestSupport.h"
#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "app/PictureButton.h"
#include "common/modMain.h"

#include <QApplication>
#include <QCloseEvent>
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
    }
    static inline int closes = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closes;
        event->accept();
        modMain::ShowMainMenu();
    }
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
    // Every tool replaced by a stand-in; menuVisibleAtLoad records whether the menu was up while each loaded.
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

TEST_F(MainMenu, eachButtonHidesTheMenuAndClosingTheToolShowsTheSameMenuAgain)
{
    TempAppFolder app;
    useStandIns();
    const std::pair<PictureButton*, QString> buttons[] = {{menu->imgSettings, "frmSetup"},
                                                          {menu->imgMigrate, "frmMigrate"},
                                                          {menu->imgUpdateAD, "frmLDAPUpdate"},
                                                          {menu->imgAbout, "frmAbout"}};
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
        EXPECT_EQ(frmMain::Instance(), menu.data());
    }
    // Only the wizard loads while the menu is still up.
    EXPECT_TRUE(menuVisibleAtLoad.value("frmLDAPUpdate"));
    EXPECT_FALSE(menuVisibleAtLoad.value("frmMigrate"));
}

TEST_F(MainMenu, aToolThatIsMissingLeavesTheMenuUpAndSaysSo)
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
        EXPECT_TRUE(menu->isVisible());
    }
}

TEST_F(MainMenu, closeBoxAnsweredNoKeepsEverythingAndACloseFromTheProgramAsksNothing)
{
    StandInTool other("frmOther");
    other.setAttribute(Qt::WA_DeleteOnClose, false);
    other.show();
    {
        ScriptedMsgBox boxes{MsgBoxAnswer::No};
        clickCloseBox(menu);
        ASSERT_EQ(boxes.calls().size(), 1u);
        EXPECT_EQ(boxes.calls()[0].text, "Are you sure you want to Exit?");
        EXPECT_EQ(boxes.calls()[0].style, vbYesNo | vbQuestion);
        QTest::qWait(20);
        ASSERT_FALSE(menu.isNull());
        EXPECT_TRUE(menu->isVisible());
        EXPECT_TRUE(other.isVisible());
        EXPECT_EQ(StandInTool::closes, 0);
    }
    ScriptedMsgBox none; // any box fails the test
    EXPECT_TRUE(menu->close());
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); }, 2000));
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
    EXPECT_EQ(QApplication::exec(), 0) << "the program did not end";
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(other.isNull());
    EXPECT_TRUE(hidden.isNull());
    EXPECT_EQ(StandInTool::closes, 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); }, 2000));
    EXPECT_EQ(frmMain::Instance(), nullptr);
}
