#pragma once
// What the window tests and the screenshot tool share: readable test output
// for Qt texts and a wait that keeps the event loop going. Prompts are
// answered by test::ScriptedPrompter (support/ScriptedPrompter.h).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <chrono>
#include <functional>
#include <ostream>

#include "support/ScriptedPrompter.h"

// Readable test failures.
inline std::ostream& operator<<(std::ostream& os, const QString& text) {
    return os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << text;
}
inline void PrintTo(const QStringList& texts, std::ostream* os) {
    *os << "{" << texts.join(", ") << "}";
}

using test::ScriptedPrompter;

// Runs the event loop until pred holds; false when the time ran out.
inline bool WaitFor(const std::function<bool()>& pred,
                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > limit.count()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        // Windows closed with delete-on-close go as the event loop would let them.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(1);
    }
    return true;
}
