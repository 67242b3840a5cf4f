// The start routine: the application, the main window on the system's MIDI
// devices, and the window's load sequence. The program takes no arguments.
#include <QApplication>
#include <QSettings>
#include <QStyleFactory>
#include <QTemporaryDir>

#include "app/Form1.h"
#include "app/TerminationSignals.h"
#include "app/WindowLook.h"
#include "midi/backends/SystemDevices.h"

int main(int argc, char* argv[])
{
    // libjack would otherwise try to start a server of its own and stall for seconds.
    qputenv("JACK_NO_START_SERVER", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantor Piano Tutor"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setWindowIcon(vantor::VantorIcon());
    // The program keeps no settings, but Qt's file dialog saves its history on
    // every close: give it a folder that goes away with the program.
    const QTemporaryDir scratchSettings;
    if (scratchSettings.isValid()) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratchSettings.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, scratchSettings.path());
    }

    vantor::Form1 form(vantor::CreateSystemDevices());
    // Ctrl+C in a terminal and a desktop logging out close the window like its close box.
    vantor::TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &vantor::TerminationSignals::Requested, &form,
                     [&form] { form.Guarded("Form_QueryUnload", [&form] { form.Form_QueryUnload(); }); });
    form.Guarded("Form_Load", [&form] { form.Form_Load(); });
    // A start-up step that failed has been logged; the window is still the way in.
    if (!form.isVisible() && !form.IsClosing()) form.show();
    if (form.IsClosing()) return 0;
    return QApplication::exec();
}
