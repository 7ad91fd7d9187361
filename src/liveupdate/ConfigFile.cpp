#include "ConfigFile.h"

#include <algorithm>

#include "Version.h"

namespace liveupdate {

QString DefaultConfigFileURL()
{
    return QStringLiteral("http://") + QString::fromUtf8(corvane::build::updateServer) +
           QStringLiteral("/corvane/corvane.txt");
}

QStringList SplitConfigLines(const QByteArray& content)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < content.size(); ++i) {
        if (content[i] != '\r')
            continue;
        lines << QString::fromLocal8Bit(content.mid(start, i - start));
        if (i + 1 < content.size() && content[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < content.size())
        lines << QString::fromLocal8Bit(content.mid(start));
    return lines;
}

ConfigFile ParseConfigFile(const QByteArray& content)
{
    // An editor on the maker's side may start the file with a UTF-8 byte-order mark.
    const QStringList lines = SplitConfigLines(content.startsWith("\xEF\xBB\xBF") ? content.mid(3) : content);
    ConfigFile config;
    if (lines.size() > 0)
        config.updateName = lines[0];
    if (lines.size() > 1)
        config.webVersion = lines[1];
    if (lines.size() > 2) {
        config.downloadURL = lines[2];
        config.hasDownloadLine = true;
    }
    return config;
}

QString FileNameFromUrl(const QString& downloadURL)
{
    const qsizetype slash = downloadURL.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? downloadURL : downloadURL.mid(slash + 1);
}

bool IsSafeFileName(const QString& name)
{
    // A leading dot also covers "." and "..", and keeps a server from planting a
    // hidden file (a shell's start-up file, where the desktop is the home folder).
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        return false;
    // A NUL would end the name early in the file system; a line break, an escape
    // or a direction override would make the name shown differ from the file written.
    const auto misleading = [](QChar c) {
        switch (c.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            return false;
        }
    };
    return !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           std::none_of(name.cbegin(), name.cend(), misleading);
}

} // namespace liveupdate
