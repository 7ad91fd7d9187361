// Says where a copy will go before the run, and spots an earlier copy.
#include "TargetPreview.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace fileop {

namespace {

QString absolute(const QString& path)
{
    return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

QString joined(const QString& dir, const QString& name)
{
    return dir.endsWith(u'/') ? dir + name : dir + u'/' + name;
}

QSet<QString> topNames(const QString& dir)
{
    QSet<QString> names;
    const QStringList entries =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& n : entries)
        names.insert(n.toLower()); // a share compares names without case
    return names;
}

// The first name "Copy of", "Copy (2) of" ... not taken in dir, as the run will pick it.
QString renamedTarget(const QString& dir, const QString& name, bool isFolder)
{
    for (int attempt = 1; attempt <= kMaxRenameAttempts; ++attempt) {
        const QString candidate =
            joined(dir, QFile::decodeName(collisionName(QFile::encodeName(name), attempt, isFolder)));
        if (!QFileInfo(candidate).exists() && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
    return joined(dir, name);
}

} // namespace

TargetPreview previewTarget(const Request& request)
{
    TargetPreview p;
    p.source = absolute(request.source);
    const QString destination = absolute(request.destination);
    const QString name = QFileInfo(p.source).fileName();
    const bool move = request.operation == FO_MOVE;
    const QFileInfo dst(destination);
    const QFileInfo src(p.source);
    p.created = !dst.exists() && !dst.isSymLink();

    if (request.contents) {
        p.target = destination;
        p.merged = !p.created;
        p.line =
            (move ? QStringLiteral("The contents of %1 will be moved into %2%3.")
                  : QStringLiteral("The contents of %1 will be copied into %2%3."))
                .arg(p.source, destination,
                     p.created ? QStringLiteral(", which is created") : QStringLiteral(", updating what is there"));
        return p;
    }
    if (p.created) {
        p.target = destination;
        p.line = move ? QStringLiteral("%1 will be created as %2, moved there.").arg(destination, name)
                      : QStringLiteral("%1 will be created as the copy of %2.").arg(destination, name);
        return p;
    }
    p.target = joined(destination, name);
    const QFileInfo inside(p.target);
    const bool taken = inside.exists() || inside.isSymLink();
    if (taken && (request.flags & FOF_RENAMEONCOLLISION))
        p.target = renamedTarget(destination, name, src.isDir());
    else
        p.merged = taken && inside.isDir() && !inside.isSymLink();
    p.line =
        (move ? QStringLiteral("%1 will be moved to %2%3.") : QStringLiteral("%1 will be copied to %2%3."))
            .arg(p.source, p.target, p.merged ? QStringLiteral(", merged with the folder already there") : QString());

    if (!taken && dst.isDir() && src.isDir() && !src.isSymLink()) {
        const QSet<QString> ours = topNames(p.source);
        const QSet<QString> theirs = topNames(destination);
        p.namesInDestination = int(theirs.size());
        for (const QString& n : theirs)
            p.namesShared += ours.contains(n) ? 1 : 0;
        p.earlierCopy = p.namesShared > 0 && 2 * p.namesShared > p.namesInDestination;
    }
    if (p.earlierCopy)
        p.warning = QStringLiteral("%1 looks like an earlier copy of %2: %3 of its %4 top-level names are also in %2, "
                                   "and it holds no %5. This run creates %6 inside it. To update that copy "
                                   "instead, run the same command with --contents.")
                        .arg(destination, p.source)
                        .arg(p.namesShared)
                        .arg(p.namesInDestination)
                        .arg(name, p.target);
    return p;
}

} // namespace fileop
