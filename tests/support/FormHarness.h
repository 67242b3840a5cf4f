#pragma once

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "app/Form1.h"
#include "support/MemoryDevices.h"
#include "support/SmfWriter.h"

namespace vantor::test {

// A Form1 on memory devices whose hooks never block: message boxes are recorded,
// the file dialog answers nextFile, and Quit is counted instead of ending the test.
class FormHarness
{
public:
    explicit FormHarness(std::shared_ptr<MemoryDevices> devices = DefaultDevices())
        : devices_(std::move(devices))
    {
        Form1Hooks hooks;
        hooks.ChooseMidiFile = [this](QWidget*) { return nextFile; };
        hooks.ShowMessage = [this](QWidget*, const QString& text) { messages.append(text); };
        hooks.Quit = [this] { ++quitCalls; };
        form_ = std::make_unique<Form1>(devices_, std::move(hooks));
    }
    // One output "Memory Out 1", one input "Memory In 1", beside the default output.
    static std::shared_ptr<MemoryDevices> DefaultDevices()
    {
        auto devices = MemoryDevices::Create();
        devices->SetOutputs({{QStringLiteral("Memory Out 1")}});
        devices->SetInputs({{QStringLiteral("Memory In 1")}});
        return devices;
    }

    Form1& form() { return *form_; }
    MemoryDevices& devices() { return *devices_; }
    // Runs the start-up sequence, as the program does after creating the window.
    void Load() { form_->Form_Load(); }
    // Writes bytes into the harness's private folder and returns the full path.
    QString WriteFile(const QByteArray& bytes, const QString& name = QStringLiteral("song.mid"))
    {
        return SmfWriter::WriteFile(folder_, name, bytes);
    }
    // WriteFile, then opens the file as the File > Open command does after its dialog.
    void Open(const QByteArray& bytes) { form_->OpenMidiFileAt(WriteFile(bytes)); }

    QStringList messages;  // every ShowMessage text, in order
    QString nextFile;      // what ChooseMidiFile returns next ("" = cancel)
    int quitCalls = 0;

private:
    std::shared_ptr<MemoryDevices> devices_;
    QTemporaryDir folder_;
    std::unique_ptr<Form1> form_;
};

}  // namespace vantor::test
