#include "app/Application.h"

#include <exception>

#include "widgets/Prompts.h"

bool Application::notify(QObject* receiver, QEvent* event) {
    return Reporting([&] { return QApplication::notify(receiver, event); });
}

bool Application::Reporting(const std::function<bool()>& handler) {
    QString what;
    try {
        return handler();
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "an unknown error";
    }
    Prompts().MessageBox(nullptr, "The program met an error and goes on: " + what, "Error",
                         Prompter::Buttons::Ok, Prompter::Icon::Error);
    return false;
}
