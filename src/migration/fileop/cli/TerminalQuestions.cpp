#include "TerminalQuestions.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

using namespace fileop;

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
        std::fprintf(stderr, "%s ", question.toLocal8Bit().constData());
        std::fflush(stderr);
        std::string line;
        int c;
        while ((c = std::fgetc(stdin)) != EOF && c != '\n')
            line += static_cast<char>(c);
        if (c == EOF && line.empty())
            return 0;
        const char first = line.empty() ? 0 : static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
        if (first && std::strchr(choices, first))
            return first;
    }
}

ReplaceAnswer TerminalQuestions::askReplace(const Conflict& conflict)
{
    const bool folder = conflict.kind == Conflict::Kind::Folder;
    if (!m_interactive) {
        std::fprintf(stderr, "%s exists: kept (no terminal to ask)\n", conflict.target.toLocal8Bit().constData());
        return ReplaceAnswer::No;
    }
    const QString q = folder ? QStringLiteral("The folder %1 already exists. Merge %2 into it? "
                                              "[y]es, yes to [a]ll, [n]o, [c]ancel:")
                                   .arg(conflict.target, conflict.source)
                             : QStringLiteral("The file %1 already exists. Replace it with %2? "
                                              "[y]es, yes to [a]ll, [n]o, [c]ancel:")
                                   .arg(conflict.target, conflict.source);
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
        std::fprintf(stderr, "%s does not exist: not created (no terminal to ask)\n", path.toLocal8Bit().constData());
        return false;
    }
    return ask(QStringLiteral("The folder %1 does not exist. Do you want to create it? [y]es, [n]o:").arg(path),
               "yn") == 'y';
}

ErrorAnswer TerminalQuestions::askError(const FileError& error)
{
    if (!m_interactive) {
        std::fprintf(stderr, "%s: skipped\n", error.text().toLocal8Bit().constData());
        return ErrorAnswer::Skip;
    }
    switch (ask(error.text() + QStringLiteral(" [r]etry, [s]kip, [c]ancel:"), "rsc")) {
    case 'r':
        return ErrorAnswer::Retry;
    case 's':
        return ErrorAnswer::Skip;
    default:
        return ErrorAnswer::Cancel;
    }
}

void TerminalQuestions::showProgress(const QString& line)
{
    std::lock_guard lock(m_mutex);
    std::fprintf(stderr, "\r\033[K%s", line.toLocal8Bit().constData());
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
