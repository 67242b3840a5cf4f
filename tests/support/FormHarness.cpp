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

FormHarness::~FormHarness() = default;

std::shared_ptr<MemoryDevices> FormHarness::DefaultDevices()
{
    auto devices = MemoryDevices::Create();
    MemoryDevices::OutputSpec out;
    out.name = QStringLiteral("Memory Out 1");
    devices->SetOutputs({out});
    devices->SetInputs({{QStringLiteral("Memory In 1")}});
    return devices;
}

Form1& FormHarness::form()
{
    return *form_;
}

MemoryDevices& FormHarness::devices()
{
    return *devices_;
}

void FormHarness::Load()
{
    form_->Form_Load();
}

QString FormHarness::WriteFile(const QByteArray& bytes, const QString& name)
{
    const QString path = folder_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("FormHarness: cannot write " + path.toStdString());
    return path;
}

void FormHarness::Open(const QByteArray& bytes)
{
    form_->OpenMidiFileAt(WriteFile(bytes));
}

}  // namespace vantor::test
