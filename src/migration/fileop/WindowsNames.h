// Names that Windows clients of the new share cannot use.
#pragma once

#include <QByteArray>
#include <QString>

// Names that Windows clients of the new share cannot use. Such files are still
// copied (the share keeps them), but the operator is told which ones.
namespace fileop {

// Why a Windows client cannot open a file of this name (one name, not a path),
// in a few words ("holds the character ':'", "ends in a dot", "is the device
// name CON"); an empty string when it can.
QString windowsNameProblem(const QByteArray& name);

} // namespace fileop
