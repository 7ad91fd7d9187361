#pragma once

#include <QImage>
#include <QString>

class QWidget;

// Renders a window as the operator would see it. When CORVANE_SCREENSHOT_DIR is
// set (scripts/screenshots.sh does), the picture is also saved there as <name>.png.
QImage renderWindow(QWidget* window, const QString& name);
