#pragma once

#include "directory_update/HomePathUpdate.h"

#include <QString>
#include <QStringList>

// The update's CSV files: the plan as the command line prints it and the
// preview saves it, and the undo file a run writes and an undo reads back.
namespace HomePathCsv {

// One record: fields quoted only when they hold a quote, comma or line break; CR LF.
QString line(const QStringList& fields);
// "dn,sAMAccountName,currentHomeDirectory,newHomeDirectory,unchanged,problem"
QString planHeader();
// The fields of one account, control characters escaped as the log escapes
// them: a value from the directory cannot forge a line or reorder a column.
QStringList planFields(const HomePathUpdate::PlannedAccount& account);

// "dn,sAMAccountName,oldHomeDirectory,newHomeDirectory,ou": the undo file's first line.
QString undoHeader();

struct UndoRead {
    HomePathUpdate::HomePathPlan plan; // each account: currentHome = what the run wrote, newHome = the value to
                                       // restore; plan.ou = the OU of the run
    QString error;                     // "line N: ..." when the file cannot be used; then the plan is empty
};
// Reads a whole undo file before anything is done with it: one bad line (a
// control character in any field, a DN outside the run's OU) and none of it is used.
UndoRead readUndoFile(const QString& path);

} // namespace HomePathCsv
