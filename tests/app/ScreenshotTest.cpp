#include "Screenshot.h"
#include "AppTestSupport.h"
#include "TempAppFolder.h"
#include "app/PictureButton.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "settings/frmSetup.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace {

class Screens : public ShellTest {
protected:
    void SetUp() override
    {
        ShellTest::SetUp();
        FormKit::InstallFontSubstitutes();
        modMain::ComposeAppCaption();
    }
    // The picture at a widget's place in the rendered window holds drawn pixels.
    static int drawnPixels(const QImage& shot, const QWidget* w, QRgb background)
    {
        const QRect r(w->mapTo(w->window(), QPoint(0, 0)), w->size());
        int n = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                n += shot.pixel(x, y) != background;
        return n;
    }
};

} // namespace

TEST_F(Screens, splash)
{
    auto* splash = new frmSplash;
    splash->Timer1->stop(); // hold the picture still
    splash->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
    const QImage shot = renderWindow(splash, "frmSplash");
    ASSERT_EQ(shot.size(), QSize(486, 111));
    const QRgb bg = splash->palette().color(QPalette::Window).rgb();
    EXPECT_GT(drawnPixels(shot, splash->Image1, bg), 1000);
    EXPECT_GT(drawnPixels(shot, splash->Label1, bg), 200);
    EXPECT_GT(drawnPixels(shot, splash->lblVersion, bg), 30);
    // The title fits its box: its text is no wider than the label.
    EXPECT_LE(splash->Label1->fontMetrics().horizontalAdvance(splash->Label1->text()), splash->Label1->width());
}

TEST_F(Screens, mainMenu)
{
    frmMain::ShowMenu();
    frmMain* menu = frmMain::Instance();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    const QImage shot = renderWindow(menu, "frmMain");
    ASSERT_EQ(shot.size(), QSize(504, 562));
    const QRgb white = qRgb(255, 255, 255);
    EXPECT_EQ(shot.pixel(5, 5), white);
    for (QWidget* w : {static_cast<QWidget*>(menu->Image1), static_cast<QWidget*>(menu->imgSettings),
                       static_cast<QWidget*>(menu->imgMigrate), static_cast<QWidget*>(menu->imgUpdateAD),
                       static_cast<QWidget*>(menu->imgAbout)})
        EXPECT_GT(drawnPixels(shot, w, white), 1000) << w->objectName().toStdString();
    EXPECT_LE(menu->Label1->fontMetrics().horizontalAdvance(menu->Label1->text()), menu->Label1->width());
    EXPECT_LE(menu->lblFooter->fontMetrics().horizontalAdvance(menu->lblFooter->text()), menu->lblFooter->width());
    // The wrapped descriptions fit their boxes in height.
    for (QLabel* l : {menu->lblSettings, menu->lblMigrate, menu->lblUpdateAD})
        EXPECT_LE(l->heightForWidth(l->width()), l->height() + 2) << l->objectName().toStdString();
}

TEST_F(Screens, settingsForm)
{
    TempAppFolder app;
    QFile ini(app.iniFile());
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[SETTINGS]\nAdmGrp=Domain Admins\nUserPath=\\\\fs1\\home$\\\n");
    ini.close();
    QPointer<frmSetup> form = new frmSetup;
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    QImage shot = renderWindow(form, "frmSetup");
    ASSERT_EQ(shot.size(), QSize(372, 286));
    EXPECT_EQ(shot.pixel(3, 3), qRgb(255, 255, 255));

    // The same form with both error labels up, as after two failed checks.
    form->txtUsername->clear();
    form->txtPassword->clear();
    QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton);
    form->txtUsername->setText("Domain Admins");
    QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton);
    shot = renderWindow(form, "frmSetup-errors");
    ASSERT_TRUE(form->lblLDAPUserErr->isVisible());
    ASSERT_TRUE(form->lblLDAPPassErr->isVisible());
    for (QLabel* l : {form->lblLDAPUserErr, form->lblLDAPPassErr, form->lblUsername, form->lblPassword})
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width()) << l->objectName().toStdString();
    EXPECT_LE(form->lblFooter->fontMetrics().horizontalAdvance(form->lblFooter->text()), form->lblFooter->width());
}
