#pragma once

class QWidget;

// The stand-in for the forms' font runs a little wider than the original, so a
// caption can need a few more pixels than its box gives it. These grow every
// label of a form just enough to show its whole text: one-line labels to the
// right (right-aligned ones to the left), wrapping labels downwards.
namespace LabelFit {
void fitLabels(QWidget* form);
} // namespace LabelFit
