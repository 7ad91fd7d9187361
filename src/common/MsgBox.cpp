#include "MsgBox.h"

#include "modMain.h"

#include <QDebug>

namespace {
MsgBoxHandler* g_handler = nullptr;
}

MsgBoxAnswer MsgBox(const QString& text, int style, const QString& title, const QString& details,
                    const QString& informative)
{
    MsgBoxCall call{text, style, title.isEmpty() ? modMain::ProgramTitle() : title, details, informative};
    if (!g_handler) {
        qWarning().noquote() << "Message box with no one to answer it:" << call.title << "-" << call.text;
        return MsgBoxAnswer::Cancel;
    }
    return g_handler->answer(call);
}

MsgBoxHandler* SetMsgBoxHandler(MsgBoxHandler* handler)
{
    MsgBoxHandler* previous = g_handler;
    g_handler = handler;
    return previous;
}
