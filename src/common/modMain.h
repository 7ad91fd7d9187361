#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

// The program's main module: application caption and folder, the log writer,
// the run-and-wait helper and the prefix stripper. Core only: no widgets here.
namespace modMain {

int VersionMajor();
int VersionMinor();
int VersionRevision();

// "Corvane", the title of a message box shown without a title of its own.
QString ProgramTitle();

// Empty until ComposeAppCaption() ran, as at start-up before the splash is shown.
QString AppCaption();
void ComposeAppCaption();
// "Corvane - File Migration Tool v1.0 BETA", built afresh: the text ComposeAppCaption() stores.
QString BuildAppCaption();
// "Corvane - File Migration Tool v1.0": the caption without " BETA".
QString CaptionWithoutBeta();

// The folder that holds the executable, without a trailing separator.
QString ApplicationFolder();
// Tests point the program at a temporary application folder; empty restores the default.
void SetApplicationFolder(const QString& folder);

// What one WriteLog call could not do: the system's error code and its
// description, code 0 when the line was written.
struct LogResult {
    int code = 0;
    QString text;
    bool ok() const { return code == 0; }
    // "Error: 2 - No such file or directory": what the operator is shown.
    QString message() const;
};

// Appends one quoted, time-stamped line to ApplicationFolder()/logs/<logName>.txt.
// It shows nothing: the caller decides whether and how often the operator hears
// of a failure (a run of many lines wants one box, not one per line).
[[nodiscard]] LogResult WriteLog(const QString& message, const QString& logName);
// "<prefix>_<d>_<m>_<yyyy>": one log per day and purpose.
QString DailyLogName(const QString& prefix, const QDate& day);
// The bytes WriteLog appends for a message at a given moment: the line format in one place.
// The message goes through EscapeControls, so one call is always one line.
QByteArray FormatLogLine(const QString& message, const QDateTime& when);
// text with line breaks, control characters and the characters that reorder or
// split lines on a screen written as \r, \n, \t, \xHH or \uHHHH: a file name
// cannot forge a log record or drive the terminal. A backslash stays as it is:
// the logs hold Windows paths, and their readers expect them unchanged.
QString EscapeControls(const QString& text);

struct ShellResult {
    bool started = false;
    int exitCode = -1;
    bool crashed = false;
    QString output; // standard output and standard error, merged
};
// Starts program with an argument vector (never through a shell) and waits for it
// while the program's windows keep being served; returns as soon as it has ended.
// windowStyle is accepted for the callers' sake: our child processes have no window.
ShellResult ShellWaitFor(const QString& program, const QStringList& arguments, int windowStyle);
void ShellWait(const QString& program, const QStringList& arguments, int windowStyle);

QString StripPrefix(const QString& marker, QString text);

// Tool forms show the main menu again when they close. The menu lives in the
// application target, so it registers itself here; tests may register a stand-in.
void ShowMainMenu();
void SetMainMenuHandler(std::function<void()> handler);

} // namespace modMain
