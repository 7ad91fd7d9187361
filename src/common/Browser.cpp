#include "Browser.h"

namespace {
Browser* g_browser = nullptr;
}

bool OpenUrl(const QUrl& url)
{
    return g_browser ? g_browser->openUrl(url) : false;
}

Browser* SetBrowser(Browser* browser)
{
    Browser* previous = g_browser;
    g_browser = browser;
    return previous;
}
