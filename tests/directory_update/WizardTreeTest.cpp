#include "WizardFixture.h"

#include "Screenshot.h"

#include <QGroupBox>
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

} // namespace

TEST_F(WizardTest, showsTheDomainAndEveryOuOnceWithDuplicateNamesInBothBranches)
{
    writeSettings("School Admins", "\\\\files\\homes\\");
    ScriptedMsgBox boxes;
    frmLDAPUpdate* w = openWizard();
    EXPECT_EQ(w->windowTitle(), modMain::AppCaption());
    EXPECT_TRUE(w->frmeStep1->isVisible());
    EXPECT_FALSE(w->frmeStep2->isVisible());
    EXPECT_FALSE(w->frmeStep3->isVisible());
    EXPECT_TRUE(w->chkSubTree->isChecked());
    EXPECT_TRUE(w->chkFixPerms->isChecked());
    EXPECT_EQ(w->lblHomePath2->text(), "\\\\files\\homes\\");

    ASSERT_EQ(w->TreeView1->topLevelItemCount(), 1);
    QTreeWidgetItem* root = w->TreeView1->topLevelItem(0);
    EXPECT_EQ(root->text(0), dc.baseDn);
    EXPECT_TRUE(root->isExpanded());
    QStringList got, want;
    collect(root, 0, got);
    expected(dc.baseDn, dc.baseDn, "root", 0, want);
    EXPECT_EQ(got, want);
    EXPECT_TRUE(got.contains("    Year7=" + dn("OU=Year7,OU=Staff")));
    EXPECT_TRUE(got.contains("    Year7=" + dn("OU=Year7,OU=Students")));
    EXPECT_TRUE(got.contains("      Form7A=" + dn("OU=Form7A,OU=Year7,OU=Students")));
    EXPECT_FALSE(got.join('\n').contains("CN=Users")) << "containers are not OUs";
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(WizardTest, buildsTheDnOfTheTickedNodeAtEveryDepthAndKeepsOneTick)
{
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    frmLDAPUpdate* w = openWizard();
    for (const QString& key : {dn("OU=Staff"), dn("OU=Year7,OU=Students"), dn("OU=Form7A,OU=Year7,OU=Students")}) {
        setTick(w->nodeByKey(key), true);
        EXPECT_EQ(w->SelectedOU, key);
        EXPECT_EQ(w->CheckedNode, w->nodeByKey(key));
        EXPECT_EQ(tickedKeys(w->TreeView1), key) << "one tick at a time";
    }
    setTick(w->nodeByKey("root"), true);
    EXPECT_EQ(w->SelectedOU, dc.baseDn);
    EXPECT_EQ(tickedKeys(w->TreeView1), "root");

    // Unticking the choice empties it; the name of the last clicked node stays.
    setTick(w->nodeByKey("root"), false);
    EXPECT_EQ(w->CheckedNode, nullptr);
    EXPECT_EQ(w->SelectedOU, dc.baseDn);
    EXPECT_EQ(tickedKeys(w->TreeView1), "");
    click(w->cmdCheckOU);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "You must select an OU to update before you can continue.");
    EXPECT_EQ(boxes.calls()[0].style, vbOKOnly | vbCritical);
    EXPECT_EQ(boxes.calls()[0].title, modMain::AppCaption());
    EXPECT_TRUE(w->frmeStep1->isVisible());
    EXPECT_FALSE(w->frmeStep2->isVisible());
}

TEST_F(WizardTest, stepTwoSummarisesTheChoiceAndCountsUserAccountsOnly)
{
    writeSettings("School Admins", "\\\\files\\homes\\");
    ScriptedMsgBox boxes;
    frmLDAPUpdate* w = openWizard();
    setTick(w->nodeByKey(dn("OU=Staff")), true);
    click(w->cmdCheckOU);
    EXPECT_FALSE(w->frmeStep1->isVisible());
    EXPECT_TRUE(w->frmeStep2->isVisible());
    EXPECT_EQ(w->lblStep2SelectedOU->text(), dn("OU=Staff"));
    EXPECT_EQ(w->lblIncSubTrees2->text(), "Yes");
    // Three staff, the tutor below; not the contact.
    EXPECT_EQ(w->lblStep2MemberCount->text(), "4");
    EXPECT_EQ(w->UserCount, 4);
    EXPECT_FALSE(w->lblStep2MemberCount->font().bold());
    EXPECT_TRUE(w->cmdGo->isEnabled());
    EXPECT_EQ(w->lblHomePath2->text(), "\\\\files\\homes\\");

    // Back: a fresh tree without a choice; the options keep their state.
    writeSettings("School Admins", "\\\\newfiles\\homes\\");
    click(w->cmdBack);
    EXPECT_TRUE(w->frmeStep1->isVisible());
    EXPECT_FALSE(w->frmeStep2->isVisible());
    EXPECT_EQ(w->CheckedNode, nullptr);
    EXPECT_EQ(w->SelectedOU, "");
    EXPECT_EQ(w->UserCount, 0);
    EXPECT_EQ(tickedKeys(w->TreeView1), "");
    EXPECT_NE(w->nodeByKey(dn("OU=Year7,OU=Students")), nullptr);
    EXPECT_EQ(w->lblHomePath2->text(), "\\\\newfiles\\homes\\");

    clickCheckBox(w->chkSubTree);
    EXPECT_EQ(w->IncludeSubtree, 0);
    setTick(w->nodeByKey(dn("OU=Year7,OU=Students")), true);
    click(w->cmdCheckOU);
    EXPECT_EQ(w->lblStep2SelectedOU->text(), dn("OU=Year7,OU=Students"));
    EXPECT_EQ(w->lblIncSubTrees2->text(), "No");
    EXPECT_EQ(w->lblStep2MemberCount->text(), "3") << "the computer is not a user";
    EXPECT_TRUE(w->cmdGo->isEnabled());

    // The domain root holds no user directly: only Back leads on.
    click(w->cmdBack);
    EXPECT_FALSE(w->chkSubTree->isChecked());
    setTick(w->nodeByKey("root"), true);
    click(w->cmdCheckOU);
    EXPECT_EQ(w->lblStep2MemberCount->text(), "There are no users to update");
    EXPECT_TRUE(w->lblStep2MemberCount->font().bold());
    EXPECT_FALSE(w->cmdGo->isEnabled());

    // And back to one with users: normal weight, Confirm enabled again.
    click(w->cmdBack);
    clickCheckBox(w->chkSubTree);
    setTick(w->nodeByKey(dn("OU=Students")), true);
    click(w->cmdCheckOU);
    EXPECT_EQ(w->lblStep2MemberCount->text(),
              QString::number(LdapTool::dns(dn("OU=Students"), "sub", DirectorySession::userFilter()).size()));
    EXPECT_FALSE(w->lblStep2MemberCount->font().bold());
    EXPECT_TRUE(w->cmdGo->isEnabled());
    EXPECT_TRUE(boxes.calls().empty());
}

TEST_F(WizardTest, saysOnceWhyTheDirectoryCannotBeReadWhenThereIsNoTicket)
{
    qputenv("KRB5CCNAME", "FILE:/nonexistent/krb5cc_none");
    ScriptedMsgBox boxes{MsgBoxAnswer::OK, MsgBoxAnswer::OK};
    frmLDAPUpdate* w = openWizard();
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_TRUE(boxes.calls()[0].text.startsWith("Unable to read the directory: "));
    EXPECT_TRUE(boxes.calls()[0].text.contains("No Kerberos credentials available"))
        << boxes.calls()[0].text.toStdString();
    EXPECT_EQ(boxes.calls()[0].style, vbOKOnly | vbCritical);
    EXPECT_EQ(w->TreeView1->topLevelItemCount(), 0);
    EXPECT_TRUE(w->frmeStep1->isVisible());
    click(w->cmdCheckOU);
    ASSERT_EQ(boxes.calls().size(), 2u);
    EXPECT_EQ(boxes.calls()[1].text, "You must select an OU to update before you can continue.");
}

TEST_F(WizardTest, saysWhyWhenTheServerIsDown)
{
    // libldap reads its configuration once per process: ctest runs each test alone.
    qputenv("LDAPURI", "ldap://127.0.0.1:9");
    if (DirectorySession::configuredUri() != "ldap://127.0.0.1:9")
        GTEST_SKIP() << "libldap was configured earlier in this process; run this test on its own";
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    frmLDAPUpdate* w = openWizard();
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "Unable to read the directory: Can't contact LDAP server");
    EXPECT_EQ(w->TreeView1->topLevelItemCount(), 0);
}

namespace {
// The directory failing to list one OU part way through the walk.
class FailingWizard : public frmLDAPUpdate {
public:
    QString failAt;

protected:
    QList<DirectoryChild> EnumerateOUs(DirectorySession& s, const QString& container, DirectoryError& err) override
    {
        if (container == failAt) {
            err.code = 80;
            err.text = "Other (e.g., implementation specific) error: simulated";
            return {};
        }
        return frmLDAPUpdate::EnumerateOUs(s, container, err);
    }
};
} // namespace

TEST_F(WizardTest, logsAnEnumerationFailureAndGoesOnWithTheRestOfTheTree)
{
    // Samba hides what cannot be listed instead of failing, so the failure is staged.
    ScriptedMsgBox boxes{MsgBoxAnswer::OK};
    auto* w = new FailingWizard;
    form = w;
    w->failAt = dn("OU=Students");
    w->cmdBack_Click(); // reloads the tree
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "An error has occured, please check the error log for more detailed information");
    EXPECT_EQ(boxes.calls()[0].style, vbOKOnly | vbCritical);
    EXPECT_EQ(boxes.calls()[0].title, modMain::AppCaption());
    const QByteArray log = app.readFile("logs/error.txt");
    EXPECT_TRUE(log.contains(": RecurseOUs - Error: 80 - Other (e.g., implementation specific) error: simulated\"\r\n"))
        << log.toStdString();
    ASSERT_NE(w->nodeByKey(dn("OU=Students")), nullptr);
    EXPECT_EQ(w->nodeByKey(dn("OU=Students"))->childCount(), 0);
    EXPECT_NE(w->nodeByKey(dn("OU=Year7,OU=Staff")), nullptr) << "the walk goes on";
}

TEST_F(WizardTest, closingAtStepOneOrTwoShowsTheMainMenu)
{
    ScriptedMsgBox boxes;
    QPointer<frmLDAPUpdate> w = openWizard();
    w->setAttribute(Qt::WA_DeleteOnClose, true);
    EXPECT_TRUE(w->close());
    EXPECT_EQ(menuShown, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(w.isNull()) << "each opening starts from a fresh form";

    w = openWizard();
    setTick(w->nodeByKey(dn("OU=Staff")), true);
    click(w->cmdCheckOU);
    EXPECT_TRUE(w->close());
    EXPECT_EQ(menuShown, 2);
}

TEST_F(WizardTest, rendersStepsOneAndTwo)
{
    writeSettings("School Admins", "\\\\files.school.local\\homes$\\");
    ScriptedMsgBox boxes;
    frmLDAPUpdate* w = openWizard();
    w->nodeByKey(dn("OU=Students"))->setExpanded(true);
    w->nodeByKey(dn("OU=Year7,OU=Students"))->setExpanded(true);
    setTick(w->nodeByKey(dn("OU=Year7,OU=Students")), true);
    const QImage step1 = renderWindow(w, "frmLDAPUpdate_step1");
    EXPECT_EQ(step1.size(), w->size());
    // The frame sits below the header text and the tree shows its nodes.
    EXPECT_GE(w->frmeStep1->geometry().top(), w->lblSubHeader->geometry().bottom());
    EXPECT_GT(w->TreeView1->visualItemRect(w->nodeByKey(dn("OU=Form7A,OU=Year7,OU=Students"))).height(), 0);

    click(w->cmdCheckOU);
    const QImage step2 = renderWindow(w, "frmLDAPUpdate_step2");
    EXPECT_NE(step1, step2);
    EXPECT_TRUE(w->lblStep2SelectedOU->isVisible());
    EXPECT_LE(w->lblStep2SelectedOU->fontMetrics()
                  .boundingRect(w->lblStep2SelectedOU->geometry(), Qt::TextWordWrap, w->lblStep2SelectedOU->text())
                  .height(),
              w->lblStep2SelectedOU->height());
}
