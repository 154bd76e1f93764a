#pragma once
// The application object and its nine windows, created in a fixed order at start-up
// and alive until the program ends.
#include <QApplication>

namespace veresk {

class TForm1;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm6;
class TForm7;
class TForm8;
class TForm9;

extern TForm1* Form1;
extern TForm2* Form2;
extern TForm3* Form3;
extern TForm4* Form4;
extern TForm5* Form5;
extern TForm6* Form6;
extern TForm7* Form7;
extern TForm8* Form8;
extern TForm9* Form9;

inline constexpr const char* ApplicationTitle = "Вереск";

// Shows errors that escape a handler in the error box and goes on.
class VereskApplication : public QApplication {
public:
    VereskApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// The error box: the error's message, captioned with the application title.
void ShowErrorBox(const QString& message);
// Where error boxes go; tests replace it to see them without a modal box.
using ErrorSink = void (*)(const QString& message);
void SetErrorSink(ErrorSink sink);

// Runs a handler; an error escaping it is shown in the error box.
template <class F>
void Guarded(F&& f);

// Creates the nine windows in order (the connection dialog reads the settings file).
void CreateForms();
// Destroys them and resets every piece of global state (tests).
void DestroyForms();
void ResetAllState();

// SIGTERM, SIGINT and SIGHUP (a session ending, a kill) end the program from the event
// loop as the frame's close button does: the port is closed, no settings are written.
void InstallExitSignals();

// Ends the process at once with exit code 0, closing the port first (tests replace
// the ending itself).
using ProcessEnder = void (*)();
void SetProcessEnder(ProcessEnder ender);
[[noreturn]] void EndProgramDefault();
void EndProgram();

}  // namespace veresk

#include <exception>
#include <QString>
namespace veresk {
template <class F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        ShowErrorBox(QString::fromUtf8(e.what()));
    } catch (...) {
        ShowErrorBox(QString());
    }
}
}  // namespace veresk
