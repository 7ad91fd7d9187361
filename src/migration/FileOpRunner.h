#pragma once

#include "migration/fileop/FileOperation.h"

class QWidget;

namespace FileOpRunner {

// Runs one request on a worker thread with the progress dialog (unless
// FOF_SILENT) and the question dialogs owned by owner, and returns the
// engine's result. The caller is blocked in a nested event loop meanwhile, so
// it sees a synchronous call while the windows keep being served. The outcome
// and every item skipped or failed go to the day's migration log.
int Run(QWidget* owner, const fileop::Request& request);

// logs/Migration_<d>_<m>_<yyyy>.txt, one per day like the directory update's.
QString LogNameNow();

} // namespace FileOpRunner
