#pragma once

#include <QList>
#include <QString>

#include <utility>

// The settings file store: named values in [sections] of a small INI text file.
// Every call reads or rewrites the file; nothing is cached between calls.
// Section and key names are trimmed of blanks and matched without regard to case.
// Lines may end in CR LF, LF or a lone CR, and a UTF-8 byte-order mark is kept.
namespace modINI {

// The longest value a read gives back whole (a 255-character buffer with its NUL).
constexpr qsizetype MaxValueLength = 254;

// The settings file holds two short values; a larger file is refused whole,
// never read into memory.
constexpr qint64 MaxFileSize = 256 * 1024;

// The value of key in section, without enclosing quotes and at most MaxValueLength
// characters long; the empty string when the file, the section or the key is missing.
QString ReadINI(const QString& section, const QString& key, const QString& file);

// Sets key in section to value, creating the file, section and key as needed.
// Every other line of the file is kept as it was. The file is replaced atomically:
// a crash or a full disk leaves either the old or the new file, never half of one.
// Concurrent writers (threads or processes) take turns on an advisory lock, so
// none loses another's key. A value longer than MaxValueLength is refused, as it
// could not be read back whole. The folder that holds the file is never created.
// Returns false on any failure.
bool WriteINI(const QString& section, const QString& key, const QString& value, const QString& file);
// The same for several keys of one section, in one rewrite: all of them or none.
bool WriteINIValues(const QString& section, const QList<std::pair<QString, QString>>& values, const QString& file);

// The program's own settings file, settings/corvane.ini in the application
// folder, built afresh on each call.
QString SettingsFile();

// Why the last ReadINI on this thread read nothing from an existing file ("" when
// it read the file, or the file is simply missing): a file past MaxFileSize.
QString LastReadError();

// Why the last failed WriteINI failed, for the operator ("No such file or directory").
QString LastWriteError();

} // namespace modINI
