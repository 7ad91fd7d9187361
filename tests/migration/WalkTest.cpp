// The walk's memory: one huge folder is listed in batches and never queued whole.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"
#include "migration/fileop/FolderTable.h"
#include "migration/fileop/ParallelWalk.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

using namespace fileop;

TEST(Walk, oneFolderOfManyFilesKeepsTheQueueAtItsLimit)
{
    TempTree t;
    constexpr int kFiles = 2000;
    ASSERT_NO_FATAL_FAILURE(t.writeMany("S/big", kFiles));
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

// The walk alone: several listers, folders found while others are listed,
// each visited once, and the walk ends when the last active lister finds nothing more.
TEST(Walk, everyFolderFoundIsVisitedOnceAndTheWalkEnds)
{
    FolderTable folders("/s/S", "/t/S");
    folders.add(std::make_unique<DirNode>());
    auto top = std::make_unique<DirNode>();
    top->parent = folders.at(0);
    folders.add(std::move(top));
    std::atomic<bool> cancel{false};
    ParallelWalk walk(folders, cancel);

    struct Visitor : WalkVisitor {
        FolderTable& folders;
        ParallelWalk& walk;
        std::mutex mutex;
        std::vector<size_t> visited;
        Visitor(FolderTable& f, ParallelWalk& w)
            : folders(f)
            , walk(w)
        {}
        void visit(DirNode& folder, size_t index) override
        {
            int depth = 0;
            for (const DirNode* d = folder.parent; d; d = d->parent)
                ++depth;
            if (depth < 6) {
                for (int i = 0; i < 3; ++i) {
                    auto child = std::make_unique<DirNode>();
                    child->parent = &folder;
                    folders.add(std::move(child));
                    walk.found();
                }
            }
            std::lock_guard lock(mutex);
            visited.push_back(index);
        }
    } visitor(folders, walk);

    int ticks = 0;
    walk.run(4, visitor, [&] { ++ticks; });
    // 1 + 3 + ... + 3^5 folders below the root.
    EXPECT_EQ(folders.size(), 1u + 364u);
    std::sort(visitor.visited.begin(), visitor.visited.end());
    ASSERT_EQ(visitor.visited.size(), 364u);
    for (size_t i = 0; i < visitor.visited.size(); ++i)
        EXPECT_EQ(visitor.visited[i], i + 1) << "a folder was visited twice or never";
}

// A cancel while the walk waits for room in a small queue ends the run: the
// workers that leave wake the lister.
TEST(Walk, aCancelWhileTheQueueIsFullEndsTheRun)
{
    TempTree t;
    ASSERT_NO_FATAL_FAILURE(t.writeMany("S/big", 600));
    t.write("D/S/big/f0", "older");
    t.write("D/S/big/f1", "older");
    FileOperationEngine engine;
    Operator op;
    op.onReplace = [&](const Conflict& c) {
        if (c.kind == Conflict::Kind::File)
            engine.cancel();
        return ReplaceAnswer::Yes;
    };
    Request request{FO_COPY, t.path("S"), t.path("D"), 0, 1};
    request.queueLimit = 4;
    EXPECT_EQ(engine.run(request, &op), Cancelled);
    EXPECT_LT(t.files("D/S/big").size(), 600);
}

// A same-file-system move into an existing folder of thousands of entries,
// read a few names at a time while the entries leave: every one arrives, the
// one the operator keeps stays (asked once, not again on the next pass), and
// the rest of the source is gone.
TEST(Walk, aMoveMergingAHugeFolderInSmallBatchesMovesEveryEntryAndAsksOnce)
{
    TempTree t;
    constexpr int kFiles = 3000;
    ASSERT_NO_FATAL_FAILURE(t.writeMany("S/big", kFiles));
    t.write("S/big/sub/inner", "inner");
    t.write("D/S/big/f7", "older, kept");
    t.write("D/S/big/f8", "older, replaced");
    t.write("D/S/big/sub/there", "there");
    t.write("D/S/big/own", "own");
    std::vector<QString> replaceAsked;
    Operator op;
    op.onReplace = [&](const Conflict& c) {
        replaceAsked.push_back(QFileInfo(c.target).fileName());
        if (c.kind == Conflict::Kind::Folder)
            return ReplaceAnswer::YesToAll;
        return c.target.endsWith(u"/f7") ? ReplaceAnswer::No : ReplaceAnswer::Yes;
    };
    op.onError = [](const FileError& e) {
        ADD_FAILURE() << e.text().toStdString();
        return ErrorAnswer::Cancel;
    };
    Request request{FO_MOVE, t.path("S"), t.path("D"), 0, 1};
    request.queueLimit = 16;
    FileOperationEngine engine;
    EXPECT_EQ(engine.run(request, &op), Cancelled) << "a kept item makes the run not a success";
    EXPECT_EQ(std::count(replaceAsked.begin(), replaceAsked.end(), QStringLiteral("f7")), 1);
    const QStringList moved = t.files("D/S/big");
    EXPECT_EQ(moved.size(), kFiles + 3) << "f0..f2999, sub/inner, sub/there, own";
    for (const int i : {0, 8, 1234, kFiles - 1})
        EXPECT_EQ(t.read(QStringLiteral("D/S/big/f%1").arg(i)), t.bytes(QStringLiteral("S/big/f%1").arg(i)));
    EXPECT_EQ(t.read("D/S/big/f7"), "older, kept");
    EXPECT_EQ(t.read("D/S/big/sub/inner"), "inner");
    EXPECT_EQ(t.read("D/S/big/sub/there"), "there");
    EXPECT_EQ(t.read("D/S/big/own"), "own");
    EXPECT_EQ(t.files("S"), QStringList{"big/f7"}) << "only the kept file stays in the source";
}
