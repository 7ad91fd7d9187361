#include "FileOpQuestionDialog.h"

#include "common/FormKit.h"
#include "common/modMain.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

using namespace fileop;

FileOpQuestionDialog::FileOpQuestionDialog(QWidget* parent, const QString& text, const QStringList& buttons,
                                           const QStringList& names)
    : QDialog(parent)
    , m_choice(static_cast<int>(buttons.size()) - 1)
{
    setObjectName(QStringLiteral("FileOpQuestionDialog"));
    setWindowTitle(modMain::AppCaption().isEmpty() ? modMain::ProgramTitle() : modMain::AppCaption());
    setFont(FormKit::formFont(8.25));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* label = new QLabel(text, this);
    label->setObjectName(QStringLiteral("lblQuestion"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setMinimumWidth(420);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* box = new QDialogButtonBox(this);
    for (int i = 0; i < buttons.size(); ++i) {
        auto* b = box->addButton(buttons[i], QDialogButtonBox::ActionRole);
        b->setObjectName(names[i]);
        b->setDefault(i == 0);
        connect(b, &QPushButton::clicked, this, [this, i] {
            m_choice = i;
            accept();
        });
    }
    auto* row = new QHBoxLayout;
    row->addWidget(icon);
    row->addWidget(label, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(box);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString FileOpQuestionDialog::replaceText(const Conflict& c)
{
    const QString name = QFileInfo(c.target).fileName();
    if (c.kind == Conflict::Kind::Folder)
        return QStringLiteral("The destination already contains a folder named '%1':\n%2\n\n"
                              "Do you want to merge the folder you are moving or copying into it? You will be "
                              "asked before any file in it is replaced.")
            .arg(name, c.target);
    return QStringLiteral("The destination already contains a file named '%1'.\n\n"
                          "Do you want to replace the existing file\n%2\n%3\n\nwith this one?\n%4\n%5")
        .arg(name, c.target, sizeAndTimeText(c.targetSize, c.targetTimeNs), c.source,
             sizeAndTimeText(c.sourceSize, c.sourceTimeNs));
}

QString FileOpQuestionDialog::errorText(const FileError& e)
{
    return e.text() + QStringLiteral("\n\nRetry tries again, Skip leaves this item out (the migration will then "
                                     "be reported as failed), Skip All leaves out this and every later item that "
                                     "fails in this run without asking again (all are listed at the end), Cancel "
                                     "stops the migration.");
}

ReplaceAnswer FileOpQuestionDialog::askReplace(QWidget* parent, const Conflict& conflict)
{
    FileOpQuestionDialog d(parent, replaceText(conflict), {tr("&Yes"), tr("Yes to &All"), tr("&No"), tr("Cancel")},
                           {QStringLiteral("cmdYes"), QStringLiteral("cmdYesToAll"), QStringLiteral("cmdNo"),
                            QStringLiteral("cmdCancel")});
    d.exec();
    static constexpr ReplaceAnswer answers[] = {ReplaceAnswer::Yes, ReplaceAnswer::YesToAll, ReplaceAnswer::No,
                                                ReplaceAnswer::Cancel};
    return answers[d.choice()];
}

ErrorAnswer FileOpQuestionDialog::askError(QWidget* parent, const FileError& error)
{
    FileOpQuestionDialog d(parent, errorText(error), {tr("&Retry"), tr("&Skip"), tr("Skip A&ll"), tr("Cancel")},
                           {QStringLiteral("cmdRetry"), QStringLiteral("cmdSkip"), QStringLiteral("cmdSkipAll"),
                            QStringLiteral("cmdCancel")});
    d.exec();
    static constexpr ErrorAnswer answers[] = {ErrorAnswer::Retry, ErrorAnswer::Skip, ErrorAnswer::SkipAll,
                                              ErrorAnswer::Cancel};
    return answers[d.choice()];
}
