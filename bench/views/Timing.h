#pragma once
// What the window benchmarks share: a stopwatch, the median of runs, a
// widget painted through, and the Graph's zoom and pan steps.
#include <QCoreApplication>
#include <QWheelEvent>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

#include "graph/LogPlot.h"

namespace bench {

inline double Milliseconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
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
