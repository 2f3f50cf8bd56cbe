// The window program. It reads no arguments and no environment of its own.

#include <exception>

#include "Serial/CSerialWnd.h"
#include "app/Application.h"
#include "app/TfrmParent.h"
#include "widgets/Prompts.h"

int main(int argc, char** argv) {
    CSerialWnd::RegisterDefaultComMsg();
    Application application(argc, argv);
    QApplication::setApplicationName("Arvelo");
    try {
        const std::unique_ptr<TfrmParent> frmParent = TfrmParent::CreateWithForms();
        frmParent->show();
        QApplication::exec();
    } catch (const std::exception& e) {
        // Only the toolkit or the standard library can throw.
        Prompts().MessageBox(nullptr, e.what(), "Arvelo", Prompter::Buttons::Ok,
                             Prompter::Icon::Error);
    }
    return 0;
}
