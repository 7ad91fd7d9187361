// A refusal names the path that changed, source or target, and says why; no stale errno.
#include "EngineTestSupport.h"

#include "migration/fileop/FileOperationEngine.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace fileop;

namespace {

// Replaces rel by a link to a root-only folder or file that must stay untouched.
void replaceByLink(const TempTree& t, const QString& rel, const QString& to)
{
    ASSERT_EQ(::rename(t.bytes(rel).constData(), t.bytes(rel + ".moved").constData()), 0);
    ASSERT_EQ(::symlink(t.bytes(to).constData(), t.bytes(rel).constData()), 0);
}

} // namespace

// Two names of one inode: the later one is linked to the first copy after the
// workers. A first copy swapped for a link meanwhile is refused as changed,
// under the first copy's own path.
TEST(Reasons, aFirstCopySwappedBeforeTheLinkPassIsNamedAsChanged)
{
    TempTree t;
    t.write("S/a/one.txt", "shared");
    QDir().mkpath(t.path("S/b"));
    ASSERT_EQ(::link(t.bytes("S/a/one.txt").constData(), t.bytes("S/b/two.txt").constData()), 0);
    // Listed last (breadth first), so its question comes once both names were met.
    t.write("S/z/zz/ask.txt", "new");
    t.write("D/S/z/zz/ask.txt", "old");
    t.write("elsewhere.txt", "not ours");
    Operator op;
    QString swapped;
    op.onReplace = [&](const Conflict& c) {
        if (c.kind != Conflict::Kind::File)
            return ReplaceAnswer::YesToAll;
        for (const QString& rel : {QStringLiteral("D/S/a/one.txt"), QStringLiteral("D/S/b/two.txt")}) {
            if (t.exists(rel) && swapped.isEmpty()) {
                replaceByLink(t, rel, "elsewhere.txt");
                swapped = rel;
            }
        }
        return ReplaceAnswer::YesToAll;
    };
    FileOperationEngine engine;
    EXPECT_NE(engine.run(Request{FO_COPY, t.path("S"), t.path("D"), 0, 1}, &op), Success);
    ASSERT_FALSE(swapped.isEmpty()) << "no first copy stood when the question came";
    ASSERT_EQ(op.errors.size(), 1u);
    EXPECT_EQ(op.errors[0].text(), QStringLiteral("Cannot link %1: it changed during the run").arg(t.path(swapped)));
    EXPECT_EQ(t.read("elsewhere.txt"), "not ours");
}

// A source folder swapped for a link before its metadata is copied: the
// refusal names the source folder, not its copy.
TEST(Reasons, aSourceFolderSwappedForALinkIsNamedOnTheSourceSide)
{
    TempTree t;
    t.write("S/x/f.txt", "x");
    t.write("S/q/qq/ask.txt", "new");
    t.write("D/S/q/qq/ask.txt", "old");
    t.write("victim/f.txt", "precious");
    ASSERT_EQ(::chmod(t.bytes("victim").constData(), 0700), 0);
    struct stat before {};
    ASSERT_EQ(::stat(t.bytes("victim").constData(), &before), 0);
    Operator op;
    op.onReplace = [&](const Conflict& c) {
        if (c.kind == Conflict::Kind::File)
            replaceByLink(t, "S/x", "victim");
        return ReplaceAnswer::YesToAll;
    };
    FileOperationEngine engine;
    EXPECT_NE(engine.run(Request{FO_COPY, t.path("S"), t.path("D"), 0, 1}, &op), Success);
    const QString failures = engine.failures().join('\n');
    EXPECT_TRUE(failures.contains(QStringLiteral("Cannot read %1: it changed during the run").arg(t.path("S/x"))))
        << failures.toStdString();
    EXPECT_FALSE(failures.contains(t.path("D/S/x"))) << failures.toStdString();
    EXPECT_EQ(t.read("D/S/x/f.txt"), "x");
    const struct stat after = t.lstat("victim");
    EXPECT_EQ(after.st_mode, before.st_mode) << "the folder metadata went through the link";
}
