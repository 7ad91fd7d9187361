// The update tells its fixer, before the first account is written, which folders it
// may fix by SID, so the SMB helpers start while the directory is written.
#include "FakeDirectory.h"
#include "TempAppFolder.h"
#include "directory_update/HomePathUpdateJob.h"

#include <gtest/gtest.h>

namespace {

const QString base = "DC=school,DC=local";

// Notes the order of what it is asked; every fix succeeds.
struct OrderFixer : PermissionFixer {
    QStringList* events;
    explicit OrderFixer(QStringList* e)
        : events(e)
    {}
    Result fix(const QString& account, const QString&, const QString&) override
    {
        *events << "fix " + account;
        return {true, {}};
    }
    void prepare(const QStringList& folders) override { *events << "prepare " + folders.join(' '); }
};

} // namespace

TEST(JobPrepare, theFixerHearsOfTheSidFoldersBeforeTheFirstWriteAndARestoreStartsNothing)
{
    TempAppFolder app;
    FakeDirectory dir;
    dir.container(base);
    dir.container("OU=S," + base);
    dir.user("CN=Admins," + base, "Admins");
    dir.find("CN=Admins," + base)->attributes.insert("objectsid", "S-1-5-21-1-2-3-512");
    for (const QString sam : {"s1", "s2", "s3"}) {
        dir.user("CN=" + sam + ",OU=S," + base, sam);
        if (sam != "s2") // the directory gave s2 no SID: it goes the tool's way, by name
            dir.find("CN=" + sam + ",OU=S," + base)->attributes.insert("objectsid", "S-1-5-21-1-2-3-1" + sam.mid(1));
    }
    HomePathUpdateJob job([&dir](DirectoryError&) { return dir.open(); });
    QStringList events;
    job.setLog([&events](const QString& line) {
        if (line.endsWith(" Updated Home Path"))
            events << "write " + line.section(' ', 0, 0);
    });
    job.setSkipFolderCheck(true);
    job.setPermissionFixer(std::make_unique<OrderFixer>(&events));
    DirectoryError err;
    ASSERT_TRUE(job.plan("OU=S," + base, false, "\\\\files\\homes\\", err)) << err.text.toStdString();
    job.setSettings({"Admins", "\\\\files\\homes\\", true});
    EXPECT_EQ(job.run(), 0);
    EXPECT_EQ(events, QStringList({"prepare \\\\files\\homes\\s1 \\\\files\\homes\\s3", "write s1", "write s2",
                                   "write s3", "fix SCHOOL\\s1", "fix SCHOOL\\s2", "fix SCHOOL\\s3"}));
    // An undo of the same accounts writes them back and fixes nothing: nothing to start.
    events.clear();
    job.setWriteMode(HomePathUpdate::WriteMode::Restore);
    job.run();
    EXPECT_EQ(events, QStringList{"prepare "});
}
