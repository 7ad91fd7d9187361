#include "common/FormKit.h"

#include <QLabel>
#include <QWidget>

#include <gtest/gtest.h>

// A caption wider than its box grows to show whole: to the right, to the left
// when right-aligned (its right edge stays put), downwards when it wraps. A
// caption that fits and a picture keep their boxes.
TEST(FormKit, fitLabelsGrowsEachCutCaptionTheWayItIsAligned)
{
    QWidget form;
    form.resize(600, 400);
    const QString longText = "A caption far wider than the box it was given";
    QLabel* left = FormKit::makeLabel(&form, "left", QRect(10, 10, 40, 15), longText);
    QLabel* right = FormKit::makeLabel(&form, "right", QRect(400, 40, 40, 15), longText);
    right->setAlignment(Qt::AlignRight | Qt::AlignTop);
    QLabel* wrap = FormKit::makeLabel(&form, "wrap", QRect(10, 70, 120, 15), longText + " " + longText);
    wrap->setWordWrap(true);
    QLabel* fits = FormKit::makeLabel(&form, "fits", QRect(10, 200, 300, 15), "OK");
    QLabel* picture = FormKit::makePicture(&form, "picture", QRect(10, 250, 20, 20), ":/images/logo.png");

    FormKit::fitLabels(&form);
    const int need = left->fontMetrics().horizontalAdvance(longText);
    EXPECT_EQ(left->geometry().topLeft(), QPoint(10, 10));
    EXPECT_GE(left->width(), need);
    EXPECT_EQ(right->geometry().right(), 439) << "a right-aligned caption keeps its right edge";
    EXPECT_GE(right->width(), need);
    EXPECT_EQ(wrap->width(), 120);
    EXPECT_GT(wrap->height(), 15);
    EXPECT_GE(wrap->height(), wrap->heightForWidth(120));
    EXPECT_EQ(fits->geometry(), QRect(10, 200, 300, 15));
    EXPECT_EQ(picture->geometry(), QRect(10, 250, 20, 20));
}
