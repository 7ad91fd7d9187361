#include "Screenshot.h"
#include "AppTestSupport.h"
#include "TempAppFolder.h"
#include "app/PictureButton.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "settings/frmSetup.h"

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

// Each window is rendered to a picture; its pictures and texts are drawn and fit their boxes.
TEST_F(Screens, splash)
{
    auto* splash = new frmSplash;
    splash->Timer1->stop(); // hold the picture still
    splash->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(splash));
    const QImage shot = renderWindow(splash, "frmSplash");
    const QRgb bg = splash->palette().color(QPalette::Window).rgb();
    EXPECT_GT(drawnPixels(shot, splash->Image1, bg), 1000);
    EXPECT_LE(splash->Label1->fontMetrics().horizontalAdvance(splash->Label1->text()), splash->Label1->width());
}

TEST_F(Screens, mainMenu)
{
    frmMain::ShowMenu();
    frmMain* menu = frmMain::Instance();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
    const QImage shot = renderWindow(menu, "frmMain");
    for (QWidget* w : {static_cast<QWidget*>(menu->Image1), static_cast<QWidget*>(menu->imgAbout)})
        EXPECT_GT(drawnPixels(shot, w, qRgb(255, 255, 255)), 1000) << w->objectName().toStdString();
    EXPECT_LE(menu->lblFooter->fontMetrics().horizontalAdvance(menu->lblFooter->text()), menu->lblFooter->width());
    EXPECT_LE(menu->lblUpdateAD->heightForWidth(menu->lblUpdateAD->width()), menu->lblUpdateAD->height() + 2);
}

TEST_F(Screens, settingsForm)
{
    TempAppFolder app;
    QPointer<frmSetup> form = new frmSetup;
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton); // two failed checks: both error labels up
    form->txtUsername->setText("Domain Admins");
    QTest::mouseClick(form->cmdLDAPConnect, Qt::LeftButton);
    renderWindow(form, "frmSetup-errors");
    ASSERT_TRUE(form->lblLDAPPassErr->isVisible());
    for (QLabel* l : {form->lblLDAPUserErr, form->lblLDAPPassErr, form->lblFooter})
        EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width()) << l->objectName().toStdString();
}
