#pragma once
// How the main window's larger windows open in its MDI area.

#include <QSize>

class QMdiArea;
class QWidget;

// form in a new window of the area, shown, as large as size within the area
// and moved whole into view wherever the area places it (the area cascades
// its windows and would push one past its edge); freed when it closes.
void ShowWholeIn(QMdiArea* area, QWidget* form, QSize size);
