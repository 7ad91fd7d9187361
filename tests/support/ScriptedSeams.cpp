#include "ScriptedSeams.h"

#include <gtest/gtest.h>

ScriptedFolderPicker::ScriptedFolderPicker(QStringList answers)
    : m_answers(std::move(answers))
    , m_previous(SetFolderPicker(this))
{}

ScriptedFolderPicker::~ScriptedFolderPicker()
{
    SetFolderPicker(m_previous);
}

QString ScriptedFolderPicker::browseForFolder(const QString& prompt, const QString& start)
{
    m_prompts << prompt;
    m_starts << start;
    if (m_answers.isEmpty()) {
        ADD_FAILURE() << "Unexpected folder picker: " << prompt.toStdString();
        return {};
    }
    return m_answers.takeFirst();
}

RecordingBrowser::RecordingBrowser()
    : m_previous(SetBrowser(this))
{}

RecordingBrowser::~RecordingBrowser()
{
    SetBrowser(m_previous);
}

bool RecordingBrowser::openUrl(const QUrl& url)
{
    m_urls.push_back(url);
    return true;
}
