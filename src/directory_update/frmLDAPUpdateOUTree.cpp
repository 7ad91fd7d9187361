// Step 1 of the wizard: the domain's OU tree, read off the window's thread, and the OU ticked in it.
#include "frmLDAPUpdate.h"

#include "common/MsgBox.h"
#include "common/modMain.h"

#include <QGroupBox>
#include <QHash>
#include <QThread>
#include <QTreeWidget>

#include <utility>

namespace {
constexpr int kKeyRole = Qt::UserRole;    // the node's key: "root" or the OU's DN
constexpr int kDnRole = Qt::UserRole + 1; // the DN the node stands for
} // namespace

std::unique_ptr<DirectorySession> frmLDAPUpdate::openSession(DirectoryError& err) const
{
    auto session = DirectorySession::open(err);
    if (session)
        session->setPageSize(m_pageSize);
    return session;
}

QTreeWidgetItem* frmLDAPUpdate::addNode(QTreeWidgetItem* parent, const QString& key, const QString& text)
{
    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(TreeView1);
    node->setText(0, text);
    node->setData(0, kKeyRole, key);
    node->setData(0, kDnRole, key == QLatin1String("root") ? text : key);
    node->setFlags(node->flags() | Qt::ItemIsUserCheckable);
    node->setCheckState(0, Qt::Unchecked);
    return node;
}

QTreeWidgetItem* frmLDAPUpdate::nodeByKey(const QString& key) const
{
    for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
        if ((*it)->data(0, kKeyRole).toString() == key)
            return *it;
    return nullptr;
}

// The directory is read off the window's thread; what it met comes back as a
// list of events, replayed here in order: nodes, log lines and messages alike.
void frmLDAPUpdate::LoadOUTree()
{
    m_waiting = Waiting::Tree;
    setCursor(Qt::BusyCursor);
    auto events = std::make_shared<QList<OUTreeEvent>>();
    m_treeThread = QThread::create([this, events] { collectTree(*events); });
    connect(m_treeThread, &QThread::finished, this, [this, events] {
        // finished() comes just before the thread's very end: wait for that, then let it go.
        m_treeThread->wait();
        delete std::exchange(m_treeThread, nullptr);
        m_waiting = Waiting::Nothing;
        unsetCursor();
        treeLoaded(*events);
    });
    m_treeThread->start();
}

void frmLDAPUpdate::collectTree(QList<OUTreeEvent>& events)
{
    DirectoryError err;
    auto session = openSession(err);
    QString namingContext;
    if (session)
        namingContext = session->readRootDse(QStringLiteral("defaultNamingContext"), err);
    if (session && !err)
        session->bindEntry(namingContext, err);
    if (err) {
        events.append({.kind = OUTreeEvent::Kind::LoadFailed, .text = err.text, .code = err.code});
        return;
    }
    events.append({.kind = OUTreeEvent::Kind::Node, .key = QStringLiteral("root"), .text = namingContext});
    RecurseOUs(*session, namingContext, 0, QStringLiteral("root"), events);
}

void frmLDAPUpdate::treeLoaded(const QList<OUTreeEvent>& events)
{
    QHash<QString, QTreeWidgetItem*> nodes;
    for (const OUTreeEvent& e : events) {
        switch (e.kind) {
        case OUTreeEvent::Kind::LoadFailed:
            // Without a directory there is nothing to choose: say why once, leave the tree empty.
            MsgBox(QStringLiteral("Unable to read the directory: ") + e.text, vbOKOnly | vbCritical,
                   modMain::AppCaption());
            break;
        case OUTreeEvent::Kind::Node: {
            m_loadingTree = true;
            QTreeWidgetItem* node = addNode(nodes.value(e.parentKey), e.key, e.text);
            m_loadingTree = false;
            if (e.key == QLatin1String("root"))
                node->setExpanded(true);
            nodes.insert(e.key, node);
            break;
        }
        case OUTreeEvent::Kind::EnumerationFailed:
            showLogFailure(modMain::WriteLog(QStringLiteral("RecurseOUs - Error: %1 - %2").arg(e.code).arg(e.text),
                                             QStringLiteral("error")));
            MsgBox(QStringLiteral("An error has occured, please check the error log for more detailed information"),
                   vbOKOnly | vbCritical, modMain::AppCaption());
            break;
        case OUTreeEvent::Kind::BindFailed:
            MsgBox(QStringLiteral("Error enumerating ") + e.key, vbOKOnly);
            break;
        }
    }
}

QList<DirectoryChild> frmLDAPUpdate::EnumerateOUs(DirectorySession& session, const QString& container,
                                                  DirectoryError& err)
{
    return session.children(container, QStringLiteral("organizationalUnit"), err);
}

void frmLDAPUpdate::RecurseOUs(DirectorySession& session, const QString& container, int depth, const QString& parentKey,
                               QList<OUTreeEvent>& events)
{
    DirectoryError err;
    const QList<DirectoryChild> children = EnumerateOUs(session, container, err);
    if (err) {
        events.append(
            {.kind = OUTreeEvent::Kind::EnumerationFailed, .key = container, .text = err.text, .code = err.code});
        return;
    }
    for (const DirectoryChild& child : children) {
        if (child.Name.left(3).toUpper() != QLatin1String("OU="))
            continue;
        // Keys are DNs: two OUs of one name at one depth are two nodes.
        const QString dn = child.DistinguishedName;
        QString text = child.Name;
        text.remove(QStringLiteral("OU="));
        events.append({.kind = OUTreeEvent::Kind::Node, .parentKey = parentKey, .key = dn, .text = text});
        DirectoryError bindErr;
        if (session.bindEntry(dn, bindErr))
            RecurseOUs(session, dn, depth + 1, dn, events);
        else
            events.append(
                {.kind = OUTreeEvent::Kind::BindFailed, .key = dn, .text = bindErr.text, .code = bindErr.code});
    }
}

void frmLDAPUpdate::TreeView1_NodeCheck(QTreeWidgetItem* node)
{
    if (!node)
        return;
    const bool ticked = node->checkState(0) == Qt::Checked;
    if (ticked) {
        // One choice at a time: a tick elsewhere would not be the choice.
        m_loadingTree = true;
        for (QTreeWidgetItemIterator it(TreeView1); *it; ++it)
            if (*it != node && (*it)->checkState(0) != Qt::Unchecked)
                (*it)->setCheckState(0, Qt::Unchecked);
        m_loadingTree = false;
        CheckedNode = node;
    } else if (CheckedNode == node) {
        CheckedNode = nullptr;
    }
    SelectedOU = node->data(0, kDnRole).toString();
}

void frmLDAPUpdate::cmdCheckOU_Click()
{
    if (!CheckedNode) {
        MsgBox(QStringLiteral("You must select an OU to update before you can continue."), vbOKOnly | vbCritical,
               modMain::AppCaption());
        return;
    }
    frmeStep1->hide();
    frmeStep3->hide();
    GetMembers();
    frmeStep2->show();
}
