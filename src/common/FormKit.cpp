#include "FormKit.h"

#include "modMain.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

namespace FormKit {

void InstallFontSubstitutes()
{
    QFont::insertSubstitutions(QStringLiteral("Microsoft Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
}

QFont formFont(double points, bool bold)
{
    QFont f(QStringLiteral("Microsoft Sans Serif"));
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QString labelText(const QString& caption)
{
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&')) {
                out += QLatin1Char('&');
                ++i;
            }
            continue;
        }
        out += caption[i];
    }
    return out;
}

template <class W> static W* place(W* w, const QString& name, const QRect& px, double points)
{
    w->setObjectName(name);
    w->setGeometry(px);
    w->setFont(formFont(points));
    return w;
}

QLabel* makeLabel(QWidget* parent, const QString& name, const QRect& px, const QString& caption, double points)
{
    auto* l = place(new QLabel(labelText(caption), parent), name, px, points);
    l->setTextFormat(Qt::PlainText);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QRect& px, const QString& caption, double points)
{
    return place(new QPushButton(caption, parent), name, px, points);
}

QCheckBox* makeCheckBox(QWidget* parent, const QString& name, const QRect& px, const QString& caption, double points)
{
    return place(new QCheckBox(caption, parent), name, px, points);
}

QRadioButton* makeOptionButton(QWidget* parent, const QString& name, const QRect& px, const QString& caption,
                               double points)
{
    return place(new QRadioButton(caption, parent), name, px, points);
}

QGroupBox* makeFrame(QWidget* parent, const QString& name, const QRect& px, const QString& caption, double points)
{
    return place(new QGroupBox(caption, parent), name, px, points);
}

QLineEdit* makeTextBox(QWidget* parent, const QString& name, const QRect& px, double points)
{
    return place(new QLineEdit(parent), name, px, points);
}

QWidget* makePanel(QWidget* parent, const QString& name, const QRect& px)
{
    auto* w = new QWidget(parent);
    w->setObjectName(name);
    w->setGeometry(px);
    return w;
}

QLabel* makePicture(QWidget* parent, const QString& name, const QRect& px, const QString& resource)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setGeometry(px);
    l->setPixmap(QPixmap(resource).scaled(px.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return l;
}

std::tuple<QLabel*, QLabel*, QLabel*> makeTitleBlock(QWidget* parent, int left, int top, bool highlightTitle)
{
    QLabel* logo =
        makePicture(parent, QStringLiteral("Image1"), twRect(left, top, 960, 960), QStringLiteral(":/images/logo.png"));
    QLabel* title = makeLabel(parent, QStringLiteral("Label1"), twRect(left + 1200, top + 120, 5835, 495),
                              QStringLiteral("Corvane - File Migration Tool"), 21.75);
    if (highlightTitle)
        setHighlightColour(title);
    QLabel* subtitle = makeLabel(parent, QStringLiteral("lblTitle2"), twRect(left + 1200, top + 600, 4515, 225),
                                 QStringLiteral("including fix permissions and fast migration technology."), 9);
    return {logo, title, subtitle};
}

QString footerText()
{
    return QStringLiteral("\"Corvane is an open-source project of the Brindle community\"");
}

QLabel* makeFooter(QWidget* parent, const QRect& px, const QString& text)
{
    QLabel* footer = makeLabel(parent, QStringLiteral("lblFooter"), px, text, 9.75);
    setGreyText(footer);
    return footer;
}

void setCaption(QWidget* form)
{
    form->setWindowTitle(modMain::AppCaption());
}

void setBuiltCaption(QWidget* form)
{
    form->setWindowTitle(modMain::BuildAppCaption());
}

void centreOnScreen(QWidget* form)
{
    if (const QScreen* screen = form->screen())
        form->move(screen->availableGeometry().center() - form->rect().center());
}

void fitLabels(QWidget* form)
{
    for (QLabel* l : form->findChildren<QLabel*>()) {
        if (l->text().isEmpty())
            continue; // pictures
        QRect g = l->geometry();
        if (l->wordWrap()) {
            g.setHeight(qMax(g.height(), l->heightForWidth(g.width())));
        } else {
            const int need = l->fontMetrics().horizontalAdvance(l->text()) + 2 * l->margin() + 1;
            if (need <= g.width())
                continue;
            if (l->alignment() & Qt::AlignRight)
                g.setLeft(g.right() + 1 - need);
            else
                g.setWidth(need);
        }
        l->setGeometry(g);
    }
}

void setHighlightColour(QWidget* w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, p.color(QPalette::Highlight));
    w->setPalette(p);
}

void setGreyText(QWidget* w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, QColor(128, 128, 128));
    w->setPalette(p);
}

void setWhiteBackground(QWidget* w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, Qt::white);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace FormKit
