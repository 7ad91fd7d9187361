#include "LabelFit.h"

#include <QLabel>

namespace LabelFit {

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

} // namespace LabelFit
