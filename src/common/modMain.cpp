#include "modMain.h"

#include "Version.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace modMain {
namespace {
QString g_appCaption;
QString g_appFolderOverride;
std::function<void()> g_mainMenuHandler;
} // namespace

int VersionMajor()
{
    return corvane::build::versionMajor;
}
int VersionMinor()
{
    return corvane::build::versionMinor;
}
int VersionRevision()
{
    return corvane::build::versionRevision;
}

QString ProgramTitle()
{
    return QStringLiteral("Corvane");
}

QString CaptionWithoutBeta()
{
    return QStringLiteral("Corvane - File Migration Tool v%1.%2").arg(VersionMajor()).arg(VersionMinor());
}

QString AppCaption()
{
    return g_appCaption;
}

QString BuildAppCaption()
{
    return CaptionWithoutBeta() + QStringLiteral(" BETA");
}

void ComposeAppCaption()
{
    g_appCaption = BuildAppCaption();
}

QString ApplicationFolder()
{
    if (!g_appFolderOverride.isEmpty())
        return g_appFolderOverride;
    return QCoreApplication::applicationDirPath();
}

void SetApplicationFolder(const QString& folder)
{
    QString f = folder;
    while (f.size() > 1 && f.endsWith(QLatin1Char('/')))
        f.chop(1);
    g_appFolderOverride = f;
}

QByteArray FormatLogLine(const QString& message, const QDateTime& when)
{
    // Quoted record, inner quotes as they are, CR LF: other tools parse these files.
    const QString text =
        when.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss ")) + QStringLiteral(": ") + EscapeControls(message);
    return '"' + text.toUtf8() + "\"\r\n";
}

QString EscapeControls(const QString& text)
{
    const auto needsEscape = [](char16_t c) {
        return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
               (c >= 0x2066 && c <= 0x2069);
    };
    if (std::none_of(text.cbegin(), text.cend(), [&](QChar c) { return needsEscape(c.unicode()); }))
        return text;
    QString out;
    out.reserve(text.size() + 8);
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (!needsEscape(c))
            out += qc;
        else if (c == u'\r')
            out += QLatin1String("\\r");
        else if (c == u'\n')
            out += QLatin1String("\\n");
        else if (c == u'\t')
            out += QLatin1String("\\t");
        else if (c <= 0xFF)
            out += QStringLiteral("\\x%1").arg(int(c), 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(int(c), 4, 16, QLatin1Char('0'));
    }
    return out;
}

QString LogResult::message() const
{
    return QStringLiteral("Error: %1 - %2").arg(code).arg(text);
}

LogResult WriteLog(const QString& message, const QString& logName)
{
    const QByteArray path =
        (ApplicationFolder() + QStringLiteral("/logs/") + logName + QStringLiteral(".txt")).toLocal8Bit();
    const QByteArray line = FormatLogLine(message, QDateTime::currentDateTime());
    int err = 0;
    // The logs folder is never created: a missing folder is reported, as a missing share would be.
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        err = errno;
    } else {
        qsizetype done = 0;
        while (done < line.size()) {
            const ssize_t n = ::write(fd, line.constData() + done, static_cast<size_t>(line.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                err = n < 0 ? errno : ENOSPC;
                break;
            }
            done += n;
        }
        // Deferred write errors (network shares, full disks) surface at close.
        if (::close(fd) != 0 && err == 0)
            err = errno;
    }
    if (err == 0)
        return {};
    return {err, qt_error_string(err)}; // strerror is not thread-safe; the update job logs off the GUI thread
}

QString DailyLogName(const QString& prefix, const QDate& day)
{
    return QStringLiteral("%1_%2_%3_%4").arg(prefix).arg(day.day()).arg(day.month()).arg(day.year());
}

ShellResult ShellWaitFor(const QString& program, const QStringList& arguments, int windowStyle)
{
    Q_UNUSED(windowStyle);
    ShellResult result;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setInputChannelMode(QProcess::ManagedInputChannel);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1))
        return result; // missing or not executable: back at once, silently
    result.started = true;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::readyRead, &loop,
                     [&] { result.output += QString::fromLocal8Bit(process.readAll()); });
    if (process.state() != QProcess::NotRunning)
        loop.exec(); // the windows stay served while the tool runs
    result.output += QString::fromLocal8Bit(process.readAll());
    result.crashed = process.exitStatus() == QProcess::CrashExit;
    result.exitCode = result.crashed ? -1 : process.exitCode();
    return result;
}

void ShellWait(const QString& program, const QStringList& arguments, int windowStyle)
{
    ShellWaitFor(program, arguments, windowStyle);
}

QString StripPrefix(const QString& marker, QString text)
{
    if (!text.contains(marker))
        return text;
    // Each marker character is consumed at its first occurrence, as the
    // directory paths' callers have always relied on.
    for (const QChar c : marker) {
        const qsizetype at = text.indexOf(c);
        if (at < 0)
            break;
        text = text.mid(at + 1);
    }
    return text;
}

void ShowMainMenu()
{
    if (g_mainMenuHandler)
        g_mainMenuHandler();
}

void SetMainMenuHandler(std::function<void()> handler)
{
    g_mainMenuHandler = std::move(handler);
}

} // namespace modMain
