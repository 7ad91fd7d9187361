#pragma once

#include "LdapTool.h"
#include "SambaDc.h"
#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "directory_update/frmLDAPUpdate.h"

#include <QCheckBox>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <memory>

// A wizard against the fixture's domain, in a temporary application folder
// whose settings file the test writes; the main menu is a counter.
class WizardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dc = SambaDc::load();
        ASSERT_TRUE(dc.ok) << dc.error.toStdString();
        modMain::ComposeAppCaption();
        FormKit::InstallFontSubstitutes(); // as the program's main does
        menuShown = 0;
        modMain::SetMainMenuHandler([this] { ++menuShown; });
    }
    void TearDown() override
    {
        if (form) {
            form->setAttribute(Qt::WA_DeleteOnClose, false);
            delete form.data();
        }
        modMain::SetMainMenuHandler({});
    }
    void writeSettings(const QString& admGrp, const QString& userPath)
    {
        QFile f(app.iniFile());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QString("[SETTINGS]\nAdmGrp=%1\nUserPath=%2\n").arg(admGrp, userPath).toUtf8());
    }
    frmLDAPUpdate* openWizard()
    {
        form = new frmLDAPUpdate;
        form->show();
        return form;
    }
    QString dn(const QString& rdns) const { return rdns.isEmpty() ? dc.baseDn : rdns + "," + dc.baseDn; }
    // Ticks or unticks a node as the operator does, through its check box.
    static void setTick(QTreeWidgetItem* node, bool ticked)
    {
        ASSERT_NE(node, nullptr);
        node->setCheckState(0, ticked ? Qt::Checked : Qt::Unchecked);
    }
    static void click(QAbstractButton* b) { QTest::mouseClick(b, Qt::LeftButton); }
    static void clickCheckBox(QCheckBox* box)
    {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    static QString tickedKeys(QTreeWidget* tree)
    {
        QStringList keys;
        for (QTreeWidgetItemIterator it(tree); *it; ++it)
            if ((*it)->checkState(0) == Qt::Checked)
                keys << (*it)->data(0, Qt::UserRole).toString();
        return keys.join('|');
    }

    SambaDc dc;
    TempAppFolder app;
    QPointer<frmLDAPUpdate> form;
    int menuShown = 0;
};
