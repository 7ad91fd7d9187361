#include "smbacl/PermissionBatch.h"
#include "ToolRun.h"

#include <QDir>
#include <QTemporaryDir>

using namespace smbacl;

namespace {

void makeHome(const QString& home)
{
    ASSERT_TRUE(QDir().mkpath(home + "/Documents/Year7"));
    for (const char* file : {"/readme.txt", "/Documents/essay.txt", "/Documents/Year7/notes.txt"}) {
        QFile f(home + QString::fromLatin1(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    ASSERT_EQ(runProgram("setfacl", {"-m", "u:nobody:r-x,d:u:nobody:r-x", home}).exitCode, 0);
}

} // namespace

// Local home folders fixed several at a time give each folder what the tool run
// twice in a row (user, then group) gives it alone; a failing account is told in the
// tool's own words and the others are still done.
TEST(PermissionBatch, localFoldersSideBySideGetWhatOneRunAfterAnotherGives)
{
    QTemporaryDir tmp;
    const QStringList users{"daemon", "bin", "sys", "games", "man", "corvane-nosuchuser", "lp", "mail"};
    std::vector<GrantRequest> requests;
    QStringList alone;
    for (int i = 0; i < users.size(); ++i) {
        const QString one = tmp.filePath(QString("alone/%1").arg(i)), batch = tmp.filePath(QString("batch/%1").arg(i));
        makeHome(one);
        makeHome(batch);
        // Today's way: the tool for the user, then for the group.
        QString said;
        for (const QString& account : {users[i], QString("adm")}) {
            const ToolRun run = runProgram(CACLS_TOOL, {one, "/e", "/g", account + ":F"});
            if (run.exitCode != 0)
                said += (said.isEmpty() ? "" : "; ") + (run.out + " " + run.err).simplified();
        }
        alone << said;
        requests.push_back({batch.toStdString(), {{users[i].toStdString(), ""}, {"adm", ""}}});
    }
    ASSERT_FALSE(HasFailure());
    BatchOptions options;
    options.tool = CACLS_TOOL;
    options.localWorkers = 3;
    options.smb.helper = SMBACL_HELPER; // not started: no network folder here
    PermissionBatch batch(options);
    const std::vector<GrantOutcome> outcomes = batch.fixAll(requests);
    ASSERT_EQ(outcomes.size(), requests.size());
    for (int i = 0; i < users.size(); ++i) {
        const QString one = tmp.filePath(QString("alone/%1").arg(i)), many = tmp.filePath(QString("batch/%1").arg(i));
        EXPECT_EQ(aclTreeOf(many).replace(many, "HOME").toStdString(),
                  aclTreeOf(one).replace(one, "HOME").toStdString())
            << users[i].toStdString();
        EXPECT_EQ(outcomes[i].ok, alone[i].isEmpty()) << users[i].toStdString();
        EXPECT_EQ(outcomes[i].message, alone[i].toStdString());
    }
    EXPECT_FALSE(outcomes[5].ok);
    EXPECT_NE(outcomes[5].message.find("corvane-nosuchuser"), std::string::npos) << outcomes[5].message;
    // The group's grant still reached the folder whose user is unknown.
    EXPECT_TRUE(aclOf(tmp.filePath("batch/5")).join(' ').contains("group:4:rwx"))
        << aclOf(tmp.filePath("batch/5")).join(' ').toStdString();
    EXPECT_TRUE(aclOf(tmp.filePath("batch/0")).join(' ').contains("user:1:rwx"));
}
