#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <tuple>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

// Building blocks for forms written in code with their geometry in twips
// (15 twips = 1 px at 96 dpi) and the form font "Microsoft Sans Serif".
namespace FormKit {

constexpr int tw(int twips)
{
    return (twips + 7) / 15;
}
inline QRect twRect(int left, int top, int width, int height)
{
    return {tw(left), tw(top), tw(width), tw(height)};
}

// Lets a metric-compatible font stand in for "Microsoft Sans Serif".
void InstallFontSubstitutes();
QFont formFont(double points, bool bold = false);

// A label caption as the operator reads it: "&&" shows one "&", a lone "&" is a mnemonic marker.
QString labelText(const QString& caption);

// Each control gets its given name as objectName, its geometry in twips and the form font.
QLabel* makeLabel(QWidget* parent, const QString& name, const QRect& px, const QString& caption, double points = 8.25);
QPushButton* makeButton(QWidget* parent, const QString& name, const QRect& px, const QString& caption,
                        double points = 8.25);
QCheckBox* makeCheckBox(QWidget* parent, const QString& name, const QRect& px, const QString& caption,
                        double points = 8.25);
QRadioButton* makeOptionButton(QWidget* parent, const QString& name, const QRect& px, const QString& caption,
                               double points = 8.25);
QGroupBox* makeFrame(QWidget* parent, const QString& name, const QRect& px, const QString& caption,
                     double points = 8.25);
QLineEdit* makeTextBox(QWidget* parent, const QString& name, const QRect& px, double points = 8.25);
// A plain container for controls (a picture box used as a panel).
QWidget* makePanel(QWidget* parent, const QString& name, const QRect& px);
// A picture from the program's resources (":/images/<file>"), scaled into px.
QLabel* makePicture(QWidget* parent, const QString& name, const QRect& px, const QString& resource);

// The logo and the two title lines most windows open with, placed from the
// logo's top-left corner in twips: Image1, Label1 (in the highlight colour
// unless told otherwise) and lblTitle2.
std::tuple<QLabel*, QLabel*, QLabel*> makeTitleBlock(QWidget* parent, int left, int top, bool highlightTitle = true);

// The community line under most forms ("lblFooter", grey, 9.75 pt): the main
// menu's text unless a form has its own credit.
QString footerText();
QLabel* makeFooter(QWidget* parent, const QRect& px, const QString& text = footerText());

// The window caption of the program's forms: the application caption.
void setCaption(QWidget* form);
// The same text built afresh from the program version, for the form that builds
// its own caption on load instead of reading the application caption.
void setBuiltCaption(QWidget* form);

// Moves a top-level form to the middle of its screen (the primary one until it is shown).
void centreOnScreen(QWidget* form);

// The stand-in for the forms' font runs a little wider than the original, so a
// caption can need a few more pixels than its box gives it. This grows every
// label of a form just enough to show its whole text: one-line labels to the
// right (right-aligned ones to the left), wrapping labels downwards.
void fitLabels(QWidget* form);

// Colours the forms use: the system highlight and window-text colours, and footer grey.
void setHighlightColour(QWidget* w);
void setGreyText(QWidget* w);
void setWhiteBackground(QWidget* w);

} // namespace FormKit
