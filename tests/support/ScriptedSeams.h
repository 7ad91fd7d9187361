#pragma once

#include "common/Browser.h"
#include "common/FolderPicker.h"

#include <QStringList>
#include <QUrl>

#include <vector>

// Answers the folder picker from a script ("" = cancel) and records the prompts.
class ScriptedFolderPicker final : public FolderPicker {
public:
    explicit ScriptedFolderPicker(QStringList answers = {});
    ~ScriptedFolderPicker() override;
    QString browseForFolder(const QString& prompt) override;
    const QStringList& prompts() const { return m_prompts; }

private:
    QStringList m_answers;
    QStringList m_prompts;
    FolderPicker* m_previous = nullptr;
};

// Records the addresses the program asked the browser to open.
class RecordingBrowser final : public Browser {
public:
    RecordingBrowser();
    ~RecordingBrowser() override;
    bool openUrl(const QUrl& url) override;
    const std::vector<QUrl>& urls() const { return m_urls; }

private:
    std::vector<QUrl> m_urls;
    Browser* m_previous = nullptr;
};
