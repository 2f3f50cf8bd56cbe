#pragma once
// What the window benchmarks share: offscreen drawing, a widget painted
// through, and the Graph's zoom and pan steps.
#include <QCoreApplication>
#include <QWheelEvent>
#include <QWidget>

#include <vector>

#include "bench/Stopwatch.h"
#include "graph/LogPlot.h"

namespace bench {

// Offscreen unless the caller names another platform (xcb to watch).
inline void DrawOffscreenUnlessTold() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

// Until every pending layout has run and the window is painted.
inline void Paint(QWidget& widget) {
    QCoreApplication::processEvents();
    widget.grab();
}

// Each step redrawn: the wheel zooms in, out, and the time axis is dragged.
inline std::vector<double> ZoomPanFrames(LogPlot& plot, int frames) {
    std::vector<double> times;
    const QPointF at = plot.axisRect(0)->center();
    QCPAxis* time = plot.axisRect(0)->axis(QCPAxis::atBottom);
    for (int frame = 0; frame < frames; ++frame) {
        times.push_back(Milliseconds([&] {
            if (frame % 3 == 2) {
                time->moveRange(time->range().size() / 10);
                plot.replot();
            } else {
                QWheelEvent wheel(at, plot.mapToGlobal(at), QPoint(),
                                  QPoint(0, frame % 3 == 0 ? 120 : -120), Qt::NoButton,
                                  Qt::NoModifier, Qt::NoScrollPhase, false);
                QCoreApplication::sendEvent(&plot, &wheel);
            }
            Paint(plot);
        }));
    }
    return times;
}

}  // namespace bench
