#include "views/SubWindow.h"

#include <QMdiArea>
#include <QMdiSubWindow>

#include <algorithm>

void ShowWholeIn(QMdiArea* area, QWidget* form, QSize size) {
    QMdiSubWindow* frame = area->addSubWindow(form);
    frame->setAttribute(Qt::WA_DeleteOnClose);
    const QRect room = area->viewport()->rect();
    frame->resize(size.boundedTo(room.size()));
    frame->show();
    frame->move(std::clamp(frame->x(), 0, room.width() - frame->width()),
                std::clamp(frame->y(), 0, room.height() - frame->height()));
}
