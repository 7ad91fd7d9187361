#pragma once

#include <QByteArray>
#include <QString>

// Writes a whole file or nothing: the bytes go to a temporary file beside the
// target, which replaces the target only once it is complete and flushed, so a
// failed write never destroys an existing file of that name. The rename replaces
// whatever stands at the name, so a link there is replaced, never followed.
// Used for the settings file and for downloads.
// False with the reason when the file could not be written; the target is then untouched.
bool writeFileAtomically(const QString& path, const QByteArray& content, QString* error = nullptr);
