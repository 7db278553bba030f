// Labels of a dialog made from a template in dialog units: under some fonts a label's text is
// wider than the room the template gives it and the static control cuts it to an ellipsis.
#pragma once
#include <windows.h>
#include <vector>

// Widens every label (a static control without an id) whose text does not fit, measured with
// the dialog's font; the controls to its right on the same line give up the room, keeping
// their right edges and the gap to the label.
void FitDialogLabels(HWND hDialog);

// The width in pixels that a control's text needs in the dialog's font.
int TextWidthInDialogFont(HWND hDialog, HWND hControl);

// The dialog's labels, in z-order, and the control a label names: the nearest visible control
// to its right on its line (null when none).
std::vector<HWND> DialogLabels(HWND hDialog);
HWND LabelledControl(HWND hDialog, HWND hLabel);
