#pragma once
// The window program's application object. An exception that escapes an
// event handler would end the program with every log of the session; it is
// reported instead, and the program goes on.

#include <QApplication>

#include <functional>

class Application final : public QApplication {
  public:
    Application(int& argc, char** argv) : QApplication(argc, argv) {}

    bool notify(QObject* receiver, QEvent* event) override;

    // Runs handler; an exception it throws is shown in a message box and
    // counts as an event not handled (false).
    static bool Reporting(const std::function<bool()>& handler);
};
