#pragma once

#include "LdapTool.h"
#include "SambaDc.h"
#include "ScriptedMsgBox.h"
#include "TempAppFolder.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "directory_update/HomePathUpdate.h"
#include "directory_update/frmLDAPUpdate.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

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
        modMain::SetMainMenuHandler([this] { ++menuShown; });
    }
    void TearDown() override
    {
        if (form) {
            form->setAttribute(Qt::WA_DeleteOnClose, false);
            delete form.data();
        }
        modMain::SetMainMenuHandler({});
        for (const QString& ou : made)
            LdapTool::deleteTree(ou);
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
    // A fresh test OU below parent (the domain root by default), removed after the test.
    QString makeOu(const QString& name, const QString& parent = {})
    {
        const QString p = parent.isEmpty() ? dc.baseDn : parent;
        const QString ou = "OU=" + name + "," + p;
        if (parent.isEmpty()) {
            LdapTool::deleteTree(ou);
            made << ou;
        }
        EXPECT_TRUE(LdapTool::addOu(p, name));
        return ou;
    }
    static QString makeUser(const QString& ou, const QString& sam)
    {
        EXPECT_TRUE(LdapTool::addUser(ou, "User " + sam, sam));
        return "CN=User " + sam + "," + ou;
    }
    static QStringList samsInServerOrder(const QString& ou)
    {
        QStringList sams;
        for (const QString& userDn : LdapTool::dns(ou, "one", DirectorySession::userFilter()))
            sams << LdapTool::values(userDn, "sAMAccountName").value(0);
        return sams;
    }
    // The day's log, each line reduced to the message between the time stamp and the quote.
    QStringList logLines() const
    {
        QStringList out;
        const QString log = QString::fromUtf8(app.readFile("logs/" + HomePathUpdate::LogNameNow() + ".txt"));
        for (const QString& line : log.split("\r\n", Qt::SkipEmptyParts))
            out << line.section(" : ", 1).chopped(1);
        return out;
    }
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

    SambaDc dc;
    TempAppFolder app;
    QPointer<frmLDAPUpdate> form;
    QStringList made;
    int menuShown = 0;
};
