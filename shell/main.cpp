// Veresk: the service and information program for the РДТ-17 dosimeter.
#include <exception>

#include "shell/application.h"
#include "shell/kvelp.h"

int main(int, char** argv) {
    // The program takes no options: not even the window framework's own.
    int argc = 1;
    char* args[] = {argv[0], nullptr};
    veresk::VereskApplication app(argc, args);
    veresk::InstallExitSignals();
    try {
        veresk::CreateForms();
        veresk::Form1->show();  // the first window created is the main window
        return app.exec() == 0 ? 0 : 0;
    } catch (const std::exception& e) {
        veresk::ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        veresk::ShowErrorBox(QString());
    }
    return 0;
}
