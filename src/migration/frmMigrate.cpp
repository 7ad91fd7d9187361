#include "frmMigrate.h"

#include "FileOpRunner.h"

#include "common/FolderPicker.h"
#include "common/FormKit.h"
#include "common/MsgBox.h"
#include "common/modMain.h"
#include "migration/fileop/FileOperation.h"
#include "migration/fileop/NetworkPath.h"
#include "migration/fileop/TargetPreview.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <utility>

using namespace FormKit;

namespace {

// A check box whose caption wraps inside its box, as the long rename option needs.
class WrapCheckBox : public QCheckBox {
public:
    using QCheckBox::QCheckBox;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter p(this);
        QStyleOptionButton opt;
        initStyleOption(&opt);
        const QString caption = opt.text;
        opt.text.clear();
        p.drawControl(QStyle::CE_CheckBox, opt);
        opt.text = caption;
        const QRect r = style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, this);
        p.drawItemText(r, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap, palette(), isEnabled(), caption,
                       QPalette::WindowText);
    }
};

} // namespace

frmMigrate::frmMigrate(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmMigrate"));
    setAttribute(Qt::WA_DeleteOnClose);
    createControls();
    Form_Load();
}

void frmMigrate::createControls()
{
    setFixedSize(tw(7395), tw(8655));
    setFont(formFont(8.25));
    setWhiteBackground(this);
    centreOnScreen(this);

    std::tie(Image1, Label1, lblTitle2) = makeTitleBlock(this, 240, 240);
    lblStep1 = makeLabel(this, QStringLiteral("lblStep1"), twRect(240, 1440, 4155, 195),
                         QStringLiteral("1 - Choose your source folder, where you are copying from."));
    Text1 = makeTextBox(this, QStringLiteral("Text1"), twRect(240, 1800, 6975, 375));
    Command1[0] = makeButton(this, QStringLiteral("Command1(0)"), twRect(240, 2280, 1695, 375), QString());
    lblStep2 = makeLabel(this, QStringLiteral("lblStep2"), twRect(240, 3000, 4275, 195),
                         QStringLiteral("2 - Choose your destination folder, where you are copying to."));
    Text2 = makeTextBox(this, QStringLiteral("Text2"), twRect(240, 3360, 6975, 375));
    Command1[1] = makeButton(this, QStringLiteral("Command1(1)"), twRect(240, 3840, 1695, 375), QString());
    Label3 = makeLabel(this, QStringLiteral("Label3"), twRect(240, 4560, 2190, 195),
                       QStringLiteral("3 - Select your required options"));
    Picture2 = makePanel(this, QStringLiteral("Picture2"), twRect(240, 4920, 6855, 2535));
    Check1[0] = makeCheckBox(Picture2, QStringLiteral("Check1(0)"), twRect(120, 120, 6615, 255), QString());
    Check1[1] = makeCheckBox(Picture2, QStringLiteral("Check1(1)"), twRect(120, 600, 6615, 255), QString());
    Check1[2] = makeCheckBox(Picture2, QStringLiteral("Check1(2)"), twRect(120, 1080, 6615, 255), QString());
    Check1[3] = new WrapCheckBox(Picture2);
    Check1[3]->setObjectName(QStringLiteral("Check1(3)"));
    Check1[3]->setGeometry(twRect(120, 1560, 6615, 375));
    Check1[3]->setFont(formFont(8.25));
    Option1[2] = makeOptionButton(Picture2, QStringLiteral("Option1(2)"), twRect(120, 2040, 2895, 375), QString());
    Option1[1] = makeOptionButton(Picture2, QStringLiteral("Option1(1)"), twRect(3840, 2040, 2895, 375), QString());
    Command2 = makeButton(this, QStringLiteral("Command2"), twRect(240, 7560, 1695, 375), QString());
    lblFooter = makeFooter(this, twRect(960, 8280, 5340, 240),
                           QStringLiteral("Part of the \"Brindle Community Tools\" project, made by Tarnwell"));
    fitLabels(this);
    for (QLineEdit* box : {Text1, Text2}) {
        QPalette p = box->palette();
        p.setColor(QPalette::Base, QColor(0xE0, 0xE0, 0xE0));
        box->setPalette(p);
    }

    setTabOrder(Text1, Command1[0]);
    setTabOrder(Command1[0], Text2);
    setTabOrder(Text2, Command1[1]);
    setTabOrder(Command1[1], Command2);
    setTabOrder(Command2, Check1[0]);
    setTabOrder(Check1[0], Check1[1]);
    setTabOrder(Check1[1], Check1[2]);
    setTabOrder(Check1[2], Check1[3]);
    setTabOrder(Check1[3], Option1[2]);
    setTabOrder(Option1[2], Option1[1]);

    for (int i : {1, 2})
        connect(Option1[i], &QRadioButton::clicked, this, [this, i] { Option1_Click(i); });
    for (int i : {0, 1})
        connect(Command1[i], &QPushButton::clicked, this, [this, i] { Command1_Click(i); });
    connect(Command2, &QPushButton::clicked, this, &frmMigrate::Command2_Click);
}

void frmMigrate::Form_Load()
{
    Option1[2]->setChecked(true);
    Option1_Click(2);
    setCaption(this);
    Command1[0]->setText(QStringLiteral("Select Source"));
    Command1[1]->setText(QStringLiteral("Select Target"));
    Command2->setText(QStringLiteral("Migrate Files"));
    Option1[1]->setText(QStringLiteral("Move Source Folder to Destination"));
    Option1[2]->setText(QStringLiteral("Copy Source Folder to Destination"));
    Check1[0]->setText(QStringLiteral("Don't show a progress dialog (silent)"));
    Check1[1]->setText(QStringLiteral("Confirm the creation of a new directory if needed."));
    Check1[2]->setText(QStringLiteral("Respond 'Yes To All' for any dialog box displayed"));
    Check1[3]->setText(
        QStringLiteral("Give the file being copied a new name (i.e. Copy 1 of...) if target filename already exists"));
}

void frmMigrate::Option1_Click(int index)
{
    m_operation = index;
}

QString frmMigrate::GetBrowseFolder(const QString& prompt, const QString& start)
{
    return BrowseForFolder(prompt, start);
}

// The nearest existing folder of what a box holds, where the picker opens;
// empty (the root) when the box holds nothing usable.
QString frmMigrate::pickerStart(const QString& text) const
{
    const fileop::MappedPath mapped = fileop::mapNetworkPath(text.trimmed(), m_mountInfo);
    if (!mapped.ok() || !QDir::isAbsolutePath(mapped.path))
        return {};
    for (QString path = QDir::cleanPath(mapped.path);; path = QFileInfo(path).path()) {
        const QFileInfo here(path);
        if (here.isDir())
            return here.absoluteFilePath();
        if (here.isRoot() || path == QFileInfo(path).path())
            return {};
    }
}

void frmMigrate::Command1_Click(int index)
{
    const QString chosen = GetBrowseFolder(index == 0 ? QStringLiteral("Select the SOURCE to move or copy:")
                                                      : QStringLiteral("Select the DESTINATION folder:"),
                                           pickerStart((index == 0 ? Text1 : Text2)->text()));
    if (chosen.isEmpty())
        return; // cancelled: the box keeps what it had
    (index == 0 ? Text1 : Text2)->setText(chosen);
}

void frmMigrate::Command2_Click()
{
    // The boxes are what the operator sees, so they are what gets migrated.
    const QString source = Text1->text();
    const QString destination = Text2->text();
    if (source.isEmpty() || destination.isEmpty()) {
        MsgBox(QStringLiteral("Please make sure thatyou have selected both a source AND destination folder."),
               vbOKOnly | vbCritical, modMain::AppCaption());
        return;
    }
    // Network paths become their mounted shares; anything the run cannot
    // take as it stands is refused here, before anything is written.
    QString from;
    QString to;
    if (!mapBox(source, QStringLiteral("source"), from) || !mapBox(destination, QStringLiteral("destination"), to))
        return;
    m_contents = false;
    if (!askEarlierCopy(from, to))
        return;
    if (MsgBox(confirmationText(from, to), vbYesNo | vbExclamation | vbDefaultButton1, modMain::AppCaption()) !=
        MsgBoxAnswer::Yes)
        return;
    setBusy(true);
    PerformShellAction(from, to);
    setBusy(false);
    m_contents = false;
}

// The box's path as the run takes it: a network path mapped to its share's
// mount point, and only a full path. False, with the reason shown and logged, otherwise.
bool frmMigrate::mapBox(const QString& typed, const QString& which, QString& local)
{
    const fileop::MappedPath mapped = fileop::mapNetworkPath(typed, m_mountInfo);
    if (!mapped.ok())
        return refuse(Text1->text(), Text2->text(), mapped.refusal);
    if (!QDir::isAbsolutePath(mapped.path))
        return refuse(
            Text1->text(), Text2->text(),
            QStringLiteral("The %1 folder \"%2\" is not a full path. Choose it with \"%3\", or type a path "
                           "that begins with / (or a network path, \\\\server\\share\\folder).")
                .arg(which, typed, which == QLatin1String("source") ? Command1[0]->text() : Command1[1]->text()));
    if (which == QLatin1String("destination"))
        if (const QString refusal = fileop::backslashRefusal(mapped.path); !refusal.isEmpty())
            return refuse(Text1->text(), Text2->text(), refusal);
    local = mapped.path;
    (which == QLatin1String("destination") ? m_destinationMount : m_sourceMount) = mapped.mount;
    return true;
}

bool frmMigrate::refuse(const QString& source, const QString& destination, const QString& reason)
{
    FileOpRunner::logRefusal(m_operation, source, destination, reason);
    MsgBox(reason, vbOKOnly | vbCritical, modMain::AppCaption());
    return false;
}

// The usual rule would nest a second copy inside an earlier one: the operator
// chooses. False when cancelled.
bool frmMigrate::askEarlierCopy(const QString& source, const QString& destination)
{
    const fileop::TargetPreview p = fileop::previewTarget(request(source, destination));
    if (!p.earlierCopy)
        return true;
    const QString name = QFileInfo(p.source).fileName();
    const QString text =
        QStringLiteral("The destination %1 looks like an earlier copy of %2: %3 of its %4 top-level names are also "
                       "in the source, and it holds no folder named %5.\r\n\r\n"
                       "Yes: update that copy (what %2 holds goes into %1).\r\n"
                       "No: create %6 inside it, as the usual rule does.\r\n"
                       "Cancel: do nothing.")
            .arg(destination, p.source)
            .arg(p.namesShared)
            .arg(p.namesInDestination)
            .arg(name, p.target);
    switch (MsgBox(text, vbYesNoCancel | vbQuestion | vbDefaultButton1, modMain::AppCaption())) {
    case MsgBoxAnswer::Yes:
        m_contents = true;
        return true;
    case MsgBoxAnswer::No:
        return true;
    default:
        return false;
    }
}

QString frmMigrate::confirmationText(const QString& source, const QString& destination) const
{
    const fileop::TargetPreview p = fileop::previewTarget(request(source, destination));
    return QStringLiteral("You have chosen to move or copy the folder and contents of : ") + Text1->text() +
           QStringLiteral("\r\n\r\n") + QStringLiteral("to the destination : ") + Text2->text() +
           QStringLiteral("\r\n\r\n") + p.line + QStringLiteral("\r\n\r\n") +
           QStringLiteral("Are you sure that you want to proceed with this action?");
}

// The preview, the question and the run all see the request the form's options make.
fileop::Request frmMigrate::request(const QString& source, const QString& destination) const
{
    return {.operation = m_operation,
            .source = source,
            .destination = destination,
            .flags = GetShellFlags(),
            .contents = m_contents};
}

void frmMigrate::setBusy(bool busy)
{
    m_busy = busy;
    if (busy)
        setCursor(Qt::WaitCursor);
    for (QWidget* w : std::initializer_list<QWidget*>{Command2, Text1, Text2, Check1[0], Check1[1], Check1[2],
                                                      Check1[3], Option1[2], Option1[1], Command1[0], Command1[1]})
        w->setEnabled(!busy);
    if (!busy)
        unsetCursor();
}

int frmMigrate::GetShellFlags() const
{
    int flags = 0;
    if (Check1[0]->isChecked())
        flags = fileop::FOF_SILENT;
    if (Check1[1]->isChecked())
        flags |= fileop::FOF_NOCONFIRMMKDIR;
    if (Check1[2]->isChecked())
        flags |= fileop::FOF_NOCONFIRMATION;
    if (Check1[3]->isChecked())
        flags |= fileop::FOF_RENAMEONCOLLISION;
    return flags;
}

void frmMigrate::PerformShellAction(QString source, QString destination)
{
    // The mount identity belongs to the one run it was checked for.
    fileop::Request runRequest = request(source, destination);
    runRequest.destinationMount = std::exchange(m_destinationMount, {});
    runRequest.sourceMount = std::exchange(m_sourceMount, {});
    const FileOpRunner::Outcome outcome = FileOpRunner::run(this, runRequest);
    // The box keeps its words; what was not copied, and why, is behind its details.
    // The numbers go under the words; what was left out is behind the details.
    if (outcome.result != 0)
        MsgBox(QStringLiteral("File Migration Failed."), vbOKOnly | vbCritical, modMain::AppCaption(),
               outcome.failures.isEmpty() && outcome.unusableNames.isEmpty() ? QString()
                                                                             : FileOpRunner::failureDetails(outcome),
               FileOpRunner::outcomeText(outcome));
    else
        MsgBox(QStringLiteral("File Migration Completed."), vbOKOnly, modMain::AppCaption(),
               outcome.unusableNames.isEmpty() ? QString() : FileOpRunner::failureDetails(outcome),
               FileOpRunner::outcomeText(outcome));
}

void frmMigrate::closeEvent(QCloseEvent* event)
{
    // While the engine runs this form is on the call stack: it must not be deleted.
    if (m_busy) {
        event->ignore();
        return;
    }
    event->accept();
    modMain::ShowMainMenu();
}
