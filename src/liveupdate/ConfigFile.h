#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The live-update configuration file: three lines (update name, version on
// offer, address of the file), in the locale's 8-bit encoding. A line ends at
// CR LF or at a lone CR; a lone LF is part of the line, as the file's authors
// on the maker's side have always written it.
namespace liveupdate {

// Where the maker publishes the configuration file (server set at build time).
QString DefaultConfigFileURL();

// The most the live update downloads: a configuration file is three short lines,
// and the whole update file is held in memory until it is written.
constexpr qint64 kConfigFileMaxBytes = 64 * 1024;
constexpr qint64 kUpdateFileMaxBytes = 256 * 1024 * 1024;

// The file's lines without their ends; a final line end opens no further line.
QStringList SplitConfigLines(const QByteArray& content);

struct ConfigFile {
    QString updateName;
    QString webVersion;
    QString downloadURL;
    bool hasDownloadLine = false; // line 3 present (the file name is only derived then)
};
ConfigFile ParseConfigFile(const QByteArray& content);

// The part of an address after its last "/"; the whole text when it holds none.
QString FileNameFromUrl(const QString& downloadURL);

// The name comes from the server: only a plain, visible name may be written to
// the desktop, never one that climbs out of it, names the folder itself, is
// hidden, or reads differently from what is written.
bool IsSafeFileName(const QString& name);

} // namespace liveupdate
