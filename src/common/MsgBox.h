#pragma once

#include <QString>

// The one way the program asks or tells the operator something. The default
// answerer shows a QMessageBox (installed by the forms library); tests install
// a scripted one that records every box.

// Buttons, icon and default button, combined with |, as the forms name them.
enum MsgBoxStyle : int {
    vbOKOnly = 0,
    vbOKCancel = 1,
    vbAbortRetryIgnore = 2,
    vbYesNoCancel = 3,
    vbYesNo = 4,
    vbRetryCancel = 5,
    vbCritical = 16,
    vbQuestion = 32,
    vbExclamation = 48,
    vbInformation = 64,
    vbDefaultButton1 = 0,
    vbDefaultButton2 = 256,
    vbDefaultButton3 = 512,
};

enum class MsgBoxAnswer { OK = 1, Cancel = 2, Abort = 3, Retry = 4, Ignore = 5, Yes = 6, No = 7 };

struct MsgBoxCall {
    QString text;
    int style = vbOKOnly;
    QString title;       // never empty: a box without a title of its own carries "Corvane"
    QString details;     // shown behind the box's "Show Details..." button; empty for none
    QString informative; // a second paragraph under the text, in a lighter voice; empty for none
    int buttons() const { return style & 7; }
    int icon() const { return style & 0x70; }
};

class MsgBoxHandler {
public:
    virtual ~MsgBoxHandler() = default;
    virtual MsgBoxAnswer answer(const MsgBoxCall& call) = 0;
};

// Shows a box (modal) and returns the button pressed. An empty title gives "Corvane".
MsgBoxAnswer MsgBox(const QString& text, int style = vbOKOnly, const QString& title = QString(),
                    const QString& details = QString(), const QString& informative = QString());

// Installs the answerer for every later box; nullptr removes it. Returns the previous one.
// With none installed a box cannot be shown: it is logged to stderr and answers Cancel.
MsgBoxHandler* SetMsgBoxHandler(MsgBoxHandler* handler);
