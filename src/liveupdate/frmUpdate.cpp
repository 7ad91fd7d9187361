#include "frmUpdate.h"

#include "ConfigFile.h"
#include "common/FormKit.h"
#include "common/modMain.h"
#include "vcUPDATECTL.h"

using namespace FormKit;

frmUpdate::frmUpdate(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("frmUpdate"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(tw(7530), tw(4230));

    vcUPDATECTL1 = new vcUPDATECTL(this);
    vcUPDATECTL1->setObjectName(QStringLiteral("vcUPDATECTL1"));
    vcUPDATECTL1->setGeometry(twRect(0, 0, 7530, 4215));
    vcUPDATECTL1->setConfigFileURL(liveupdate::DefaultConfigFileURL());
    connect(vcUPDATECTL1, &vcUPDATECTL::CloseRequest, this, &frmUpdate::vcUPDATECTL1_CloseRequest);

    Form_Load();
}

void frmUpdate::Form_Load()
{
    setWindowTitle(modMain::AppCaption());
}

void frmUpdate::vcUPDATECTL1_CloseRequest(const QString& path)
{
    Q_UNUSED(path);
    close();
}
