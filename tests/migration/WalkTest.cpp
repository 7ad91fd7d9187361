// The walk's memory: one huge folder is listed in batches and never queued whole.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"

#include <fcntl.h>
#include <unistd.h>

using namespace fileop;

TEST(Walk, oneFolderOfManyFilesKeepsTheQueueAtItsLimit)
{
    TempTree t;
    QDir().mkpath(t.path("S/big"));
    constexpr int kFiles = 2000;
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray name = t.bytes("S/big/f") + QByteArray::number(i);
        const int fd = ::open(name.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "x", 1), 1);
        ::close(fd);
    }
    t.write("S/small/one.txt", "one");
    QDir().mkpath(t.path("D"));
    constexpr int kLimit = 32;
    Request request{FO_COPY, t.path("S"), t.path("D"), FOF_NOCONFIRMATION, 2};
    request.queueLimit = kLimit;
    FileOperationEngine engine;
    ASSERT_EQ(engine.run(request, nullptr), Success);
    const Progress last = engine.lastProgress();
    EXPECT_EQ(last.filesDone, kFiles + 1);
    EXPECT_EQ(t.files("D/S/big").size(), kFiles);
    EXPECT_EQ(t.read("D/S/small/one.txt"), "one");
    EXPECT_GT(last.filesQueuedPeak, 0);
    // One group of files may go in before the walk waits for room.
    EXPECT_LE(last.filesQueuedPeak, 2 * kLimit) << "the folder was queued whole";
}
