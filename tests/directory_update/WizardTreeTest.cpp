#include "WizardFixture.h"

#include "Screenshot.h"

#include <QLabel>

namespace {

// The tree below a node, as "text=key" lines indented by depth.
void collect(QTreeWidgetItem* node, int depth, QStringList& out)
{
    out << QString(depth * 2, ' ') + node->text(0) + "=" + node->data(0, Qt::UserRole).toString();
    for (int i = 0; i < node->childCount(); ++i)
        collect(node->child(i), depth + 1, out);
}

// The same from ldapsearch: each OU's children in the server's order.
void expected(const QString& dn, const QString& text, const QString& key, int depth, QStringList& out)
{
    out << QString(depth * 2, ' ') + text + "=" + key;
    for (const QString& child : LdapTool::dns(dn, "one", "(objectClass=organizationalUnit)"))
        expected(child, child.section(',', 0, 0).mid(3), child, depth + 1, out);
}

QString tickedKeys(QTreeWidget* tree)
{
    QStringList keys;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if ((*it)->checkState(0) == Qt::Checked)
            keys << (*it)->data(0, Qt::UserRole).toString();
    return keys.join('|');
}

} // namespace

TEST_F(WizardTest, showsEveryOuOnceAndBuildsTheDnOfTheOneTickedNodeAtEveryDepth)
{
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    frmLDAPUpdate* w = openWizard();
    ASSERT_EQ(w->TreeView1->topLevelItemCount(), 1);
    QStringList got, want;
    collect(w->TreeView1->topLevelItem(0), 0, got);
    expected(dc.baseDn, dc.baseDn, "root", 0, want);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(got.contains("    Year7=" + dn("OU=Year7,OU=Staff")));
    EXPECT_TRUE(got.contains("    Year7=" + dn("OU=Year7,OU=Students")));
    EXPECT_FALSE(got.join('\n').contains("CN=Users")) << "containers are not OUs";

    for (const QString& key : {dn("OU=Staff"), dn("OU=Year7,OU=Students"), dn("OU=Form7A,OU=Year7,OU=Students")}) {
        setTick(w->nodeByKey(key), true);
        EXPECT_EQ(w->SelectedOU, key);
        EXPECT_EQ(tickedKeys(w->TreeView1), key) << "one tick at a time";
    }
    setTick(w->nodeByKey("root"), true);
    EXPECT_EQ(w->SelectedOU, dc.baseDn);
    setTick(w->nodeByKey("root"), false);
    EXPECT_EQ(w->CheckedNode, nullptr);
    click(w->cmdCheckOU);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "You must select an OU to update before you can continue.");
    EXPECT_TRUE(w->frmeStep1->isVisible());
}

TEST_F(WizardTest, stepTwoCountsUserAccountsOnlyAndBackStartsAFreshChoice)
{
    writeSettings("School Admins", "\\\\files.school.local\\homes$\\");
    ScriptedMsgBox boxes;
    frmLDAPUpdate* w = openWizard();
    w->nodeByKey(dn("OU=Students"))->setExpanded(true);
    w->nodeByKey(dn("OU=Year7,OU=Students"))->setExpanded(true);
    setTick(w->nodeByKey(dn("OU=Staff")), true);
    const QImage step1 = renderWindow(w, "frmLDAPUpdate_step1");
    click(w->cmdCheckOU);
    EXPECT_NE(step1, renderWindow(w, "frmLDAPUpdate_step2"));
    EXPECT_EQ(w->lblStep2SelectedOU->text(), dn("OU=Staff"));
    EXPECT_EQ(w->lblStep2MemberCount->text(), "4") << "three staff and the tutor below; not the contact";
    EXPECT_TRUE(w->cmdGo->isEnabled());

    // Back: a fresh tree without a choice and the settings read again.
    writeSettings("School Admins", "\\\\newfiles\\homes\\");
    click(w->cmdBack);
    EXPECT_EQ(w->CheckedNode, nullptr);
    EXPECT_EQ(w->lblHomePath2->text(), "\\\\newfiles\\homes\\");
    clickCheckBox(w->chkSubTree);
    setTick(w->nodeByKey(dn("OU=Year7,OU=Students")), true);
    click(w->cmdCheckOU);
    EXPECT_EQ(w->lblIncSubTrees2->text(), "No");
    EXPECT_EQ(w->lblStep2MemberCount->text(), "3") << "the computer is not a user";

    // The domain root holds no user directly: only Back leads on.
    click(w->cmdBack);
    setTick(w->nodeByKey("root"), true);
    click(w->cmdCheckOU);
    EXPECT_EQ(w->lblStep2MemberCount->text(), "There are no users to update");
    EXPECT_FALSE(w->cmdGo->isEnabled());
    click(w->cmdBack);
    setTick(w->nodeByKey(dn("OU=Students")), true);
    click(w->cmdCheckOU);
    EXPECT_TRUE(w->cmdGo->isEnabled());
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(WizardTest, saysWhyTheDirectoryCannotBeReadWithoutATicket)
{
    qputenv("KRB5CCNAME", "FILE:/nonexistent/krb5cc_none");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    frmLDAPUpdate* w = openWizard();
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(boxes.calls()[0].text.startsWith("Unable to read the directory: "));
    EXPECT_TRUE(boxes.calls()[0].text.contains("No Kerberos credentials available"))
        << boxes.calls()[0].text.toStdString();
    EXPECT_EQ(w->TreeView1->topLevelItemCount(), 0);
}

namespace {
// The directory failing to list one OU part way through the walk (Samba hides
// what cannot be listed instead of failing, so the failure is staged).
class FailingWizard : public frmLDAPUpdate {
public:
    QString failAt;

protected:
    QList<DirectoryChild> EnumerateOUs(DirectorySession& s, const QString& container, DirectoryError& err) override
    {
        if (container != failAt)
            return frmLDAPUpdate::EnumerateOUs(s, container, err);
        err.code = 80;
        err.text = "simulated";
        return {};
    }
};
} // namespace

TEST_F(WizardTest, logsAnEnumerationFailureAndGoesOnWithTheRestOfTheTree)
{
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    auto* w = new FailingWizard;
    form = w;
    w->failAt = dn("OU=Students");
    w->cmdBack_Click(); // reloads the tree
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "An error has occured, please check the error log for more detailed information");
    const QByteArray log = app.readFile("logs/error.txt");
    EXPECT_TRUE(log.contains(": RecurseOUs - Error: 80 - simulated\"\r\n")) << log.toStdString();
    EXPECT_EQ(w->nodeByKey(dn("OU=Students"))->childCount(), 0);
    EXPECT_NE(w->nodeByKey(dn("OU=Year7,OU=Staff")), nullptr) << "the walk goes on";
}
