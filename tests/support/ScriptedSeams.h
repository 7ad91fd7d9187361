#pragma once

#include "common/Browser.h"
#include "common/FolderPicker.h"

#include <QStringList>
#include <QUrl>

#include <vector>

// Answers the folder picker from a script ("" = cancel) and records the
// prompts and the folders it was opened at.
class ScriptedFolderPicker final : public FolderPicker {
public:
    explicit ScriptedFolderPicker(QStringList answers = {});
    ~ScriptedFolderPicker() override;
    QString browseForFolder(const QString& prompt, const QString& start) override;
    const QStringList& prompts() const { return m_prompts; }
    const QStringList& starts() const { return m_starts; }

private:
    QStringList m_answers;
    QStringList m_prompts;
    QStringList m_starts;
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
