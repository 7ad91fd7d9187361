#include "QtSeams.h"

#include "Browser.h"
#include "FolderPicker.h"
#include "MsgBox.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QThread>

namespace {

class QtMsgBox final : public MsgBoxHandler {
public:
    MsgBoxAnswer answer(const MsgBoxCall& call) override
    {
        Q_ASSERT(QThread::currentThread() == qApp->thread());
        QMessageBox box(QApplication::activeWindow());
        box.setWindowTitle(call.title);
        // Texts carry paths, DNs and server messages: as rich text a tag in one
        // would be followed (an <img> opens its file). Every text is plain.
        box.setTextFormat(Qt::PlainText);
        box.setText(call.text);
        if (!call.informative.isEmpty()) {
            box.setInformativeText(call.informative);
            // Its label guesses the format by itself: plain too, for the same reason.
            if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
                label->setTextFormat(Qt::PlainText);
        }
        if (!call.details.isEmpty())
            box.setDetailedText(call.details);
        box.setIcon(iconFor(call.icon()));
        const QList<QMessageBox::StandardButton> buttons = buttonsFor(call.buttons());
        for (QMessageBox::StandardButton b : buttons)
            box.addButton(b);
        const int defaultIndex = (call.style >> 8) & 3;
        if (defaultIndex < buttons.size())
            box.setDefaultButton(buttons[defaultIndex]);
        box.exec();
        return toAnswer(box.standardButton(box.clickedButton()), buttons);
    }

private:
    static QMessageBox::Icon iconFor(int icon)
    {
        switch (icon) {
        case vbCritical:
            return QMessageBox::Critical;
        case vbQuestion:
            return QMessageBox::Question;
        case vbExclamation:
            return QMessageBox::Warning;
        case vbInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
        }
    }
    static QList<QMessageBox::StandardButton> buttonsFor(int buttons)
    {
        switch (buttons) {
        case vbOKCancel:
            return {QMessageBox::Ok, QMessageBox::Cancel};
        case vbAbortRetryIgnore:
            return {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore};
        case vbYesNoCancel:
            return {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
        case vbYesNo:
            return {QMessageBox::Yes, QMessageBox::No};
        case vbRetryCancel:
            return {QMessageBox::Retry, QMessageBox::Cancel};
        default:
            return {QMessageBox::Ok};
        }
    }
    static MsgBoxAnswer toAnswer(QMessageBox::StandardButton b, const QList<QMessageBox::StandardButton>& offered)
    {
        switch (b) {
        case QMessageBox::Ok:
            return MsgBoxAnswer::OK;
        case QMessageBox::Cancel:
            return MsgBoxAnswer::Cancel;
        case QMessageBox::Abort:
            return MsgBoxAnswer::Abort;
        case QMessageBox::Retry:
            return MsgBoxAnswer::Retry;
        case QMessageBox::Ignore:
            return MsgBoxAnswer::Ignore;
        case QMessageBox::Yes:
            return MsgBoxAnswer::Yes;
        case QMessageBox::No:
            return MsgBoxAnswer::No;
        default:
            // Closed with Escape or the title bar: the box's cancel-like answer.
            if (offered.contains(QMessageBox::Cancel))
                return MsgBoxAnswer::Cancel;
            if (offered.contains(QMessageBox::No))
                return MsgBoxAnswer::No;
            return MsgBoxAnswer::OK;
        }
    }
};

class QtFolderPicker final : public FolderPicker {
public:
    QString browseForFolder(const QString& prompt, const QString& start) override
    {
        return QFileDialog::getExistingDirectory(QApplication::activeWindow(), prompt,
                                                 start.isEmpty() ? QStringLiteral("/") : start,
                                                 QFileDialog::ShowDirsOnly);
    }
};

class QtBrowser final : public Browser {
public:
    bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

} // namespace

void QtSeams::InstallDefaults()
{
    static QtMsgBox msgBox;
    static QtFolderPicker picker;
    static QtBrowser browser;
    SetMsgBoxHandler(&msgBox);
    SetFolderPicker(&picker);
    SetBrowser(&browser);
}
