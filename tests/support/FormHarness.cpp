#include "support/FormHarness.h"

namespace vantor::test {

FormHarness::FormHarness(std::shared_ptr<MemoryDevices> devices) : devices_(std::move(devices))
{
    Form1Hooks hooks;
    hooks.ChooseMidiFile = [this](QWidget*) { return nextFile; };
    hooks.ShowMessage = [this](QWidget*, const QString& text) { messages.append(text); };
    hooks.Quit = [this] { ++quitCalls; };
    form_ = std::make_unique<Form1>(devices_, std::move(hooks));
}

std::shared_ptr<MemoryDevices> FormHarness::DefaultDevices()
{
    auto devices = MemoryDevices::Create();
    devices->SetOutputs({{QStringLiteral("Memory Out 1")}});
    devices->SetInputs({{QStringLiteral("Memory In 1")}});
    return devices;
}

}  // namespace vantor::test
