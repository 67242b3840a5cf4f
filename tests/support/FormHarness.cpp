#include "support/FormHarness.h"

#include <QFile>
#include <stdexcept>

namespace vantor::test {

FormHarness::FormHarness(std::shared_ptr<MemoryDevices> devices) : devices_(std::move(devices))
{
    if (!folder_.isValid()) throw std::runtime_error("FormHarness: no temporary folder");
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

QString FormHarness::WriteFile(const QByteArray& bytes, const QString& name)
{
    const QString path = folder_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("FormHarness: cannot write " + path.toStdString());
    return path;
}

}  // namespace vantor::test
