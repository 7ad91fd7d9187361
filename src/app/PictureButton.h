#pragma once

#include <QLabel>

// A picture that acts as a button: a left click on it emits clicked(), and the
// pointer over it becomes the pointing hand read from the program's point.cur.
// It never takes the keyboard focus.
class PictureButton final : public QLabel {
    Q_OBJECT
public:
    PictureButton(QWidget* parent, const QString& name, const QRect& px, const QString& resource,
                  const QString& toolTip);

signals:
    void clicked();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setHoverCursor();
    bool m_hoverCursorSet = false;
    bool m_pressed = false;
};
