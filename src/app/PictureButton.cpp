#include "PictureButton.h"

#include "app/AppResources.h"
#include "common/modMain.h"

#include <QMouseEvent>
#include <QPixmap>

PictureButton::PictureButton(QWidget* parent, const QString& name, const QRect& px, const QString& resource,
                             const QString& toolTip)
    : QLabel(parent)
{
    setObjectName(name);
    setGeometry(px);
    setPixmap(QPixmap(resource).scaled(px.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    setToolTip(toolTip);
    setFocusPolicy(Qt::NoFocus);
    setMouseTracking(true);
}

void PictureButton::setHoverCursor()
{
    if (m_hoverCursorSet)
        return;
    // Read on each hover, so a cursor file put beside the program is picked up
    // without a restart; the cursor belongs to this button alone, so the rest
    // of the window keeps its arrow.
    setCursor(AppResources::LoadCursorFile(modMain::ApplicationFolder() + QStringLiteral("/point.cur")));
    m_hoverCursorSet = true;
}

void PictureButton::enterEvent(QEnterEvent* event)
{
    setHoverCursor();
    QLabel::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event)
{
    m_hoverCursorSet = false;
    m_pressed = false;
    QLabel::leaveEvent(event);
}

void PictureButton::mouseMoveEvent(QMouseEvent* event)
{
    setHoverCursor();
    QLabel::mouseMoveEvent(event);
}

void PictureButton::mousePressEvent(QMouseEvent* event)
{
    m_pressed = event->button() == Qt::LeftButton;
    event->accept();
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event)
{
    const bool click = m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    m_pressed = false;
    event->accept();
    if (click)
        emit clicked();
}
