#include "FileOpRunner.h"

#include "FileOpProgressDialog.h"
#include "FileOpQuestionDialog.h"

#include "common/MsgBox.h"
#include "common/modMain.h"
#include "migration/fileop/FileOperationEngine.h"

#include <QDate>
#include <QEventLoop>
#include <QPointer>
#include <QThread>

using namespace fileop;

namespace {

// Answers the engine's questions with dialogs. The engine calls it on a worker
// thread; each question hops to the UI thread and waits there for the answer.
class DialogQuestions final : public QObject, public FileOpQuestions {
public:
    explicit DialogQuestions(QWidget* owner)
        : m_owner(owner)
    {}

    ReplaceAnswer askReplace(const Conflict& conflict) override
    {
        ReplaceAnswer a = ReplaceAnswer::Cancel;
        onUiThread([&] { a = FileOpQuestionDialog::askReplace(m_owner, conflict); });
        return a;
    }
    bool askCreateFolder(const QString& path) override
    {
        bool yes = false;
        onUiThread([&] {
            yes = MsgBox(QStringLiteral("The folder %1 does not exist. Do you want to create it?").arg(path),
                         vbYesNo | vbQuestion, modMain::AppCaption()) == MsgBoxAnswer::Yes;
        });
        return yes;
    }
    ErrorAnswer askError(const FileError& error) override
    {
        ErrorAnswer a = ErrorAnswer::Cancel;
        onUiThread([&] { a = FileOpQuestionDialog::askError(m_owner, error); });
        return a;
    }

private:
    template <class F> void onUiThread(F&& f)
    {
        // A blocking hop from the UI thread to itself would deadlock.
        if (QThread::currentThread() == thread())
            f();
        else
            QMetaObject::invokeMethod(this, std::forward<F>(f), Qt::BlockingQueuedConnection);
    }
    QPointer<QWidget> m_owner;
};

} // namespace

FileOpRunner::Outcome FileOpRunner::run(QWidget* owner, const Request& request)
{
    FileOperationEngine engine;
    DialogQuestions questions(owner);
    FileOpProgressDialog* dialog = nullptr;
    if (!(request.flags & FOF_SILENT)) {
        dialog = new FileOpProgressDialog(owner, request.operation);
        dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        QObject::connect(&engine, &FileOperationEngine::progress, dialog, &FileOpProgressDialog::setProgress);
        QObject::connect(dialog, &FileOpProgressDialog::cancelRequested, dialog, [&engine] { engine.cancel(); });
    }

    int result = GeneralFailure;
    QEventLoop loop;
    QThread* worker = QThread::create([&] { result = engine.run(request, &questions); });
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    if (dialog)
        dialog->show();
    loop.exec();
    worker->wait();
    delete worker;
    delete dialog;

    // "File Migration Failed." cannot say which files: the log does. One error
    // box is enough when the log cannot be written at all.
    Outcome outcome;
    outcome.result = result;
    outcome.failures = engine.failures();
    outcome.unusableNames = engine.unusableNames();
    outcome.summary = engine.summary();
    const QString log = logNameNow();
    outcome.logPath = modMain::ApplicationFolder() + QStringLiteral("/logs/") + log + QStringLiteral(".txt");
    modMain::LogResult written = modMain::WriteLog(
        QStringLiteral("%1 %2 to %3%4: result %5, %6")
            .arg(request.operation == FO_MOVE ? QStringLiteral("Move") : QStringLiteral("Copy"), request.source,
                 request.destination, request.contents ? QStringLiteral(" (contents)") : QString())
            .arg(result)
            .arg(summaryText(outcome.summary)),
        log);
    const QStringList items = outcome.failures + outcome.unusableNames;
    for (qsizetype i = 0; written.ok() && i < items.size(); ++i)
        written = modMain::WriteLog(QStringLiteral("  ") + items[i], log);
    if (!written.ok())
        MsgBox(written.message(), vbOKOnly);
    return outcome;
}

void FileOpRunner::logRefusal(int operation, const QString& source, const QString& destination, const QString& reason)
{
    const modMain::LogResult written =
        modMain::WriteLog(QStringLiteral("%1 %2 to %3: refused, nothing written: %4")
                              .arg(operation == FO_MOVE ? QStringLiteral("Move") : QStringLiteral("Copy"), source,
                                   destination, QString(reason).replace(QLatin1String("\n\n"), QLatin1String(" "))),
                          logNameNow());
    if (!written.ok())
        MsgBox(written.message(), vbOKOnly);
}

QString FileOpRunner::failureDetails(const Outcome& outcome, int limit)
{
    const QStringList items = outcome.failures + outcome.unusableNames;
    QStringList lines;
    for (const QString& line : items.mid(0, limit))
        lines << modMain::EscapeControls(line);
    if (items.size() > limit)
        lines << QStringLiteral("... and %1 more").arg(items.size() - limit);
    lines << QStringLiteral("The migration log %1 lists every item.").arg(outcome.logPath);
    return lines.join(u'\n');
}

QString FileOpRunner::outcomeText(const Outcome& outcome)
{
    QString text = summaryText(outcome.summary) + u'.';
    if (outcome.result != Success && outcome.failures.isEmpty() && !outcome.summary.cancelled)
        text += QStringLiteral("\n\nResult %1: %2.").arg(outcome.result).arg(resultText(outcome.result));
    if (outcome.summary.cancelled)
        text += QStringLiteral("\n\n") +
                finishHint(outcome.summary, QStringLiteral("\"Respond 'Yes To All' for any dialog box displayed\""));
    return text;
}

QString FileOpRunner::logNameNow()
{
    return modMain::DailyLogName(QStringLiteral("Migration"), QDate::currentDate());
}
