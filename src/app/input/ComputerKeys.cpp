// The computer keyboard as a piano: its notes join the MIDI input's messages and
// are handled as the player's own.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>

#include "app/Form1.h"
#include "keyboard/ComputerKeys.h"

namespace vantor {

namespace {

constexpr int TypedVelocity = 100;
// How long a release waits for the press that would make it auto-repeat: X sends
// the two together, so a few milliseconds would do on an idle machine.
constexpr int RepeatTwinMs = 30;

// Text boxes keep their keys.
bool TakesText(const QWidget* widget)
{
    return qobject_cast<const QLineEdit*>(widget) != nullptr ||
           widget->testAttribute(Qt::WA_InputMethodEnabled);
}

// The same physical key on press and release, whatever Shift did to its symbol.
int KeyIdentity(const QKeyEvent& event)
{
    return event.nativeScanCode() != 0 ? -static_cast<int>(event.nativeScanCode()) : event.key();
}

}  // namespace

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::WindowDeactivate && watched == this && !typedHeld_.empty()) {
        // Releases go to whatever window has the focus now: end the notes here.
        Guarded("ReleaseComputerKeys", [this] { ReleaseComputerKeys(); });
        return false;
    }
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
    if (closing_ || PracticeKeys == nullptr || !PracticeKeys->isChecked()) return false;
    const auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this || TakesText(widget)) return false;
    bool taken = false;
    Guarded("ComputerKey_Event", [&] { taken = ComputerKey_Event(*static_cast<QKeyEvent*>(event)); });
    return taken;
}

bool Form1::ComputerKey_Event(const QKeyEvent& event)
{
    const bool press = event.type() == QEvent::KeyPress;
    const int identity = KeyIdentity(event);
    if (heldBackRelease_) {
        const bool twin = press && heldBackRelease_->identity == identity && event.timestamp() != 0 &&
                          heldBackRelease_->time == event.timestamp();
        if (twin) {
            heldBackRelease_.reset();
            return true;
        }
        // Anything else goes out after the release, in the order it came.
        FlushComputerKeyRelease();
    }
    if (!press) {
        if (!typedHeld_.contains(identity)) return false;
        if (event.isAutoRepeat()) return true;
        const std::uint64_t serial = ++releaseSerial_;
        heldBackRelease_ = HeldBackRelease{identity, event.timestamp(), serial};
        QTimer::singleShot(RepeatTwinMs, this, [this, serial] {
            if (heldBackRelease_ && heldBackRelease_->serial == serial)
                Guarded("FlushComputerKeyRelease", [this] { FlushComputerKeyRelease(); });
        });
        return true;
    }
    // Shortcuts and the menus' keys come with Ctrl or Alt.
    if ((event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) != 0) return false;
    if (const int octaves = ComputerKeyOctaveStep(event.key()); octaves != 0) {
        if (!event.isAutoRepeat()) typedLowerC_ = ShiftedLowerC(typedLowerC_, octaves);
        return true;
    }
    const int note = ComputerKeyNote(event.key(), typedLowerC_);
    if (note < 0) return false;
    if (event.isAutoRepeat() || typedHeld_.contains(identity)) return true;
    typedHeld_[identity] = note;
    typed_.push_back({0x90, note, TypedVelocity});
    OnMessageReceived();
    return true;
}

void Form1::FlushComputerKeyRelease()
{
    if (!heldBackRelease_) return;
    const auto held = typedHeld_.find(heldBackRelease_->identity);
    heldBackRelease_.reset();
    if (held == typedHeld_.end()) return;
    typed_.push_back({0x80, held->second, 64});
    typedHeld_.erase(held);
    OnMessageReceived();
}

void Form1::ReleaseComputerKeys()
{
    heldBackRelease_.reset();
    for (const auto& [identity, note] : typedHeld_)
        typed_.push_back({0x80, note, 64});
    typedHeld_.clear();
    OnMessageReceived();
}

}  // namespace vantor
