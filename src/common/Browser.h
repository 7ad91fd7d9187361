#pragma once

#include <QUrl>

// Opens a web address in the operator's default browser. The default uses
// QDesktopServices (forms library); tests record the addresses instead.
class Browser {
public:
    virtual ~Browser() = default;
    virtual bool openUrl(const QUrl& url) = 0;
};

// Returns false when no browser is installed or the browser refused.
bool OpenUrl(const QUrl& url);
Browser* SetBrowser(Browser* browser);
