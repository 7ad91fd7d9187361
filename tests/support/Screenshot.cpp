#include "Screenshot.h"

#include <QDir>
#include <QWidget>

QImage renderWindow(QWidget* window, const QString& name)
{
    const QImage image = window->grab().toImage();
    const QString dir = qEnvironmentVariable("CORVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        QDir().mkpath(dir);
        image.save(dir + "/" + name + ".png");
    }
    return image;
}
