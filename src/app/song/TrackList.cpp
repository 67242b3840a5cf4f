#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <exception>

#include "app/Form1.h"
#include "common/ComponentError.h"
#include "song/StepMap.h"

namespace vantor {

namespace {

// One step of the open command: from the reader's step on, a failure skips only
// the step that failed.
template <class Step>
void RunOpenStep(const char* step, Step&& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        qWarning("OpenMidiFile (%s): %s", step, error.what());
    } catch (...) {
        qWarning("OpenMidiFile (%s): unknown failure", step);
    }
}

}  // namespace

void Form1::OpenMidiFile()
{
    if (!Hooks().ChooseMidiFile) return;
    const QString path = Hooks().ChooseMidiFile(this);
    if (path.isEmpty()) return;  // cancelled: nothing changes
    OpenMidiFileAt(path);
}

void Form1::OpenMidiFileAt(const QString& path)
{
    // A queue still reporting notes would move the new song's position.
    RunOpenStep("stop playback", [this] {
        if (CmdStop->isEnabled()) StopPlayback();
    });

    RunOpenStep("close", [this] { Midifile1.SetFileAction(FileActionClose); });
    RunOpenStep("file path", [this, &path] { Midifile1.SetFilePath(path); });
    RunOpenStep("read", [this, &path] {
        try {
            Midifile1.SetFileAction(FileActionOpen);
        } catch (const std::exception& error) {
            if (Hooks().ShowMessage) {
                Hooks().ShowMessage(
                    this, tr("The MIDI file %1 cannot be opened:\n%2")
                              .arg(QDir::toNativeSeparators(path), QString::fromUtf8(error.what())));
            }
            throw;
        }
    });
    RunOpenStep("filter", [this] { Midifile1.SetFilter(0xC0, true); });
    RunOpenStep("track list", [this] { DisplayTrackList(); });
    RunOpenStep("pending events", [this] { YieldOnce(); });
    RunOpenStep("buttons", [this] {
        CmdStop->setEnabled(false);
        CmdPlay->setEnabled(true);
    });
    RunOpenStep("focus", [this] { FocusStepForward(); });
}

void Form1::DisplayTrackList()
{
    TrackList->clear();
    const int tracks = Midifile1.TrackCount();
    if (tracks == 1) {
        TrackBase = 1;
        TrackList->addItem(TrackDisplayName(1));
        MsPerTick = ComputeMsPerTick(Midifile1.Tempo(), Midifile1.Division());
    } else {
        TrackBase = 2;
        for (int n = 1; n <= tracks; ++n) {
            const QString name = TrackDisplayName(n);
            if (n == 1) {
                MsPerTick = ComputeMsPerTick(Midifile1.Tempo(), Midifile1.Division());
            } else {
                TrackList->addItem(name);
            }
        }
    }
    // An empty list has no first entry to select; the track selection never runs for it.
    if (TrackList->count() == 0) throw ComponentError("The file has no track to practise");
    TrackList->setCurrentIndex(0);
    SelectTrack();
}

QString Form1::TrackDisplayName(int track)
{
    Midifile1.SetCurrentTrack(track);
    const QString fallback = QStringLiteral("Track %1").arg(track);
    QString name = fallback;
    const int count = Midifile1.EventCount();
    for (int k = 1; k <= count; ++k) {
        Midifile1.SetCurrentEvent(k);
        const int status = Midifile1.EventStatus();
        if (status == 255 && Midifile1.EventData1() == 3) {
            const QString text = Midifile1.EventText();
            name = text.isEmpty() ? fallback : text;
        }
        // The first program change ends the track's heading.
        if (status >= 0xC0 && status <= 0xCF) break;
    }
    return name;
}

}  // namespace vantor
