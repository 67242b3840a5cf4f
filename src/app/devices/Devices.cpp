// The device lists, opening and closing the two ports, Midi Reset and the
// instrument choice.
#include <QComboBox>

#include "app/Form1.h"
#include "app/devices/Instruments.h"
#include "common/ComponentError.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"

namespace vantor {

namespace {

// Qt leaves an empty list at -1 without complaint; selecting "the first entry"
// of an empty list is a failure of the step that asked for it.
void SelectFirstEntry(QComboBox* combo)
{
    if (combo->count() == 0) throw ComponentError(combo->objectName().toStdString() + " has no entries");
    combo->setCurrentIndex(0);
}

void Send(MIDIOutput& port, int status, int data1, int data2)
{
    port.SetStatus(status);
    port.SetData1(data1);
    port.SetData2(data2);
    port.SetAction(ActionSendMessage);
}

constexpr int SustainPedal = 64;
constexpr int AllNotesOff = 123;

}  // namespace

void Form1::FillOutputDevices()
{
    OutputDevCombo->clear();
    const int count = MIDIOutput1->DeviceCount();
    for (int device = -1; device < count; ++device) {
        MIDIOutput1->SetDeviceID(device);
        OutputDevCombo->addItem(MIDIOutput1->ProductName());
    }
    MIDIOutput1->SetDeviceID(-1);
    SelectFirstEntry(OutputDevCombo);
    OutputDevCombo_Click();
    OpenOutput();
}

void Form1::FillInputDevices()
{
    InputDevCombo->clear();
    const int count = MIDIInput1->DeviceCount();
    for (int device = 0; device < count; ++device) {
        MIDIInput1->SetDeviceID(device);
        InputDevCombo->addItem(MIDIInput1->ProductName());
    }
    if (MIDIInput1->DeviceCount() > 0) {
        MIDIInput1->SetDeviceID(0);
        SelectFirstEntry(InputDevCombo);
        InputDevCombo_Click();
        OpenInput();
    }
}

void Form1::FillProgramList()
{
    ProgramList->clear();
    ProgramList->addItems(InstrumentNames());
    SelectFirstEntry(ProgramList);
    ProgramList_Click();
}

void Form1::OpenOutput()
{
    if (closing_) return;
    if (MIDIOutput1->OpenState() >= 1) return;
    MIDIOutput1->SetDeviceID(OutputDevCombo->currentIndex() - 1);
    MIDIOutput1->SetAction(ActionOpen);
    // A device that failed to open has said so through Error; there is no volume to save.
    if (MIDIOutput1->OpenState() < 1) return;
    if (MIDIOutput1->Capabilities() == 0) return;
    if (MIDIOutput1->HasStereoVolume()) {
        SavedVolume = MIDIOutput1->Volume();
        SavedRightVolume = MIDIOutput1->RightVolume();
    } else if (MIDIOutput1->HasVolume()) {
        SavedVolume = MIDIOutput1->Volume();
    }
}

void Form1::CloseOutput()
{
    if (MIDIOutput1->OpenState() < 1) return;
    // Nothing was saved from a device without capabilities: writing the saved values
    // back would hand it another device's volume.
    if (MIDIOutput1->Capabilities() != 0) {
        if (MIDIOutput1->HasStereoVolume()) {
            MIDIOutput1->SetVolume(SavedVolume);
            MIDIOutput1->SetRightVolume(SavedRightVolume);
        } else if (MIDIOutput1->HasVolume()) {
            MIDIOutput1->SetVolume(SavedVolume);
        }
    }
    MIDIOutput1->SetAction(ActionClose);
}

void Form1::OpenInput()
{
    if (closing_) return;
    if (MIDIInput1->OpenState() >= 1) return;
    MIDIInput1->SetDeviceID(InputDevCombo->currentIndex());
    MIDIInput1->SetAction(ActionOpen);
    MIDIInput1->SetAction(ActionStart);
}

void Form1::CloseInput()
{
    if (MIDIInput1->OpenState() < 1) return;
    MIDIInput1->SetAction(ActionStop);
    MIDIInput1->SetAction(ActionClose);
}

void Form1::MidiReset()
{
    Send(*MIDIOutput1, 0xB0, SustainPedal, 0);
    // The note-offs go to the channel numbered like the selected track; with no
    // track selected that is 0x90 - 1 = 0x8F, a note-off on channel 16.
    const int track = TrackList->currentIndex();
    const int status = track < 0 ? 0x8F : 0x90 + track % 16;
    for (int note = 0; note <= 127; ++note)
        Send(*MIDIOutput1, status, note, 0);
    // A file may sound on any channel: end what the notes above cannot reach.
    for (int channel = 0; channel < 16; ++channel) {
        Send(*MIDIOutput1, 0xB0 + channel, SustainPedal, 0);
        Send(*MIDIOutput1, 0xB0 + channel, AllNotesOff, 0);
    }
}

void Form1::ResetMidi_Click()
{
    MidiReset();
    // A key whose release never came would hold Wait for My Notes back for good.
    HeldInput.Clear();
    FocusStepForward();
}

void Form1::OutputDevCombo_Click()
{
    StopPlayback();
    CloseOutput();
    OpenOutput();
    FocusStepForwardIfVisible();
}

void Form1::InputDevCombo_Click()
{
    HeldInput.Clear();
    CloseInput();
    OpenInput();
    FocusStepForwardIfVisible();
}

void Form1::OutputDevCombo_Activated()
{
    MIDIOutput1->RetryDevice();
    OutputDevCombo_Click();
}

void Form1::InputDevCombo_Activated()
{
    MIDIInput1->RetryDevice();
    InputDevCombo_Click();
}

void Form1::ProgramList_Click()
{
    if (MIDIOutput1->OpenState() < 1) return;
    MIDIOutput1->SetStatus(0xC0 + ProgramChannel);
    MIDIOutput1->SetData1(ProgramList->currentIndex());
    MIDIOutput1->SetData2(0);
    MIDIOutput1->SetTimeStamp(0);
    MIDIOutput1->SetAction(ActionSendMessage);
    FocusStepForwardIfVisible();
}

void Form1::OutputPort_Error(int code, const QString& description)
{
    // Shut-down closes the ports; a complaint then would only hold up the exit.
    if (!IsReportedPortError(code) || closing_) return;
    hooks_.ShowMessage(this, description);
    StopPlayback();
}

void Form1::InputPort_Error(int code, const QString& description)
{
    if (!IsReportedPortError(code) || closing_) return;
    hooks_.ShowMessage(this, description);
}

}  // namespace vantor
