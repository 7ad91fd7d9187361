#pragma once

#include <QWidget>

class QLabel;
class QTimer;

// The first window: title and version for three seconds or until a character
// key, then the main menu. It only hands over; it never opens anything else.
class frmSplash final : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblTitle2 = nullptr;
    QLabel* lblVersion = nullptr;
    QTimer* Timer1 = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void createControls();
    void Form_Load();
    void Timer1_Timer();
    void handOver();
    bool m_handedOver = false;
};
