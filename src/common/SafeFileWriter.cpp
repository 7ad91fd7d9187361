#include "SafeFileWriter.h"

#include <QSaveFile>

bool writeFileAtomically(const QString& path, const QByteArray& content, QString* error)
{
    QSaveFile file(path);
    // Never fall back to writing in place: that is what would lose the old file.
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (file.write(content) != content.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}
