#include "TerminalQuestions.h"

#include "common/modMain.h"

#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

using namespace fileop;

namespace {

// Names from the tree go to the terminal escaped: a file name cannot move the
// cursor, clear the screen or fake a line of output.
QByteArray printable(const QString& text)
{
    return modMain::EscapeControls(text).toLocal8Bit();
}

} // namespace

TerminalQuestions::TerminalQuestions()
    : m_interactive(::isatty(STDIN_FILENO) == 1)
{}

char TerminalQuestions::ask(const QString& question, const char* choices)
{
    std::lock_guard lock(m_mutex);
    if (m_progressShown) {
        std::fputs("\n", stderr);
        m_progressShown = false;
    }
    for (;;) {
        std::fprintf(stderr, "%s ", printable(question).constData());
        std::fflush(stderr);
        std::string line;
        if (!readLine(line))
            return 0;
        const char first = line.empty() ? 0 : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
        if (first && std::strchr(choices, first))
            return first;
    }
}

// One line from the terminal, waiting in short steps so that an interrupt
// ends the question (and the run) instead of waiting for a key. False at end
// of input or once cancelled.
bool TerminalQuestions::readLine(std::string& line)
{
    for (;;) {
        if (m_cancelled && m_cancelled())
            return false;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&in, 1, 200);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready <= 0)
            continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return !line.empty();
        if (c == '\n')
            return true;
        line += c;
    }
}

ReplaceAnswer TerminalQuestions::askReplace(const Conflict& conflict)
{
    const bool folder = conflict.kind == Conflict::Kind::Folder;
    if (!m_interactive) {
        std::fprintf(stderr, "%s exists: kept (no terminal to ask)\n", printable(conflict.target).constData());
        return ReplaceAnswer::No;
    }
    const QString q = folder ? QStringLiteral("The folder %1 already exists. Merge %2 into it? "
                                              "[y]es, yes to [a]ll, [n]o, [c]ancel:")
                                   .arg(conflict.target, conflict.source)
                             : QStringLiteral("The file %1 (%2) already exists. Replace it with %3 (%4)? "
                                              "[y]es, yes to [a]ll, [n]o, [c]ancel:")
                                   .arg(conflict.target, sizeAndTimeText(conflict.targetSize, conflict.targetTimeNs),
                                        conflict.source, sizeAndTimeText(conflict.sourceSize, conflict.sourceTimeNs));
    switch (ask(q, "yanc")) {
    case 'y':
        return ReplaceAnswer::Yes;
    case 'a':
        return ReplaceAnswer::YesToAll;
    case 'n':
        return ReplaceAnswer::No;
    default:
        return ReplaceAnswer::Cancel;
    }
}

bool TerminalQuestions::askCreateFolder(const QString& path)
{
    if (!m_interactive) {
        std::fprintf(stderr, "%s does not exist: not created (no terminal to ask)\n", printable(path).constData());
        return false;
    }
    return ask(QStringLiteral("The folder %1 does not exist. Do you want to create it? [y]es, [n]o:").arg(path),
               "yn") == 'y';
}

ErrorAnswer TerminalQuestions::askError(const FileError& error)
{
    if (!m_interactive) {
        std::fprintf(stderr, "%s: skipped\n", printable(error.text()).constData());
        return ErrorAnswer::Skip;
    }
    switch (ask(error.text() + QStringLiteral(" [r]etry, [s]kip, skip [a]ll errors, [c]ancel:"), "rsac")) {
    case 'r':
        return ErrorAnswer::Retry;
    case 's':
        return ErrorAnswer::Skip;
    case 'a':
        return ErrorAnswer::SkipAll;
    default:
        return ErrorAnswer::Cancel;
    }
}

char TerminalQuestions::askEarlierCopy(const QString& destination, const QString& newFolder)
{
    const char a =
        ask(QStringLiteral("[u]pdate the copy in %1, [c]reate %2 inside it, or [q]uit:").arg(destination, newFolder),
            "ucq");
    return a ? a : 'q';
}

void TerminalQuestions::showProgress(const QString& line)
{
    std::lock_guard lock(m_mutex);
    std::fprintf(stderr, "\r\033[K%s", printable(line).constData());
    std::fflush(stderr);
    m_progressShown = true;
}

void TerminalQuestions::endProgress()
{
    std::lock_guard lock(m_mutex);
    if (m_progressShown)
        std::fputs("\n", stderr);
    m_progressShown = false;
}
