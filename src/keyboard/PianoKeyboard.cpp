#include "keyboard/PianoKeyboard.h"

#include <QPainter>
#include <string>

#include "common/ComponentError.h"
#include "keyboard/KeyboardGeometry.h"

namespace vantor {

namespace geo = keyboard_geometry;

namespace {

// Client-area coordinates to the widget's own.
QRect Local(const QRect& clientRect)
{
    return clientRect.translated(-PianoKeyboard::Area.topLeft());
}

}  // namespace

PianoKeyboard::PianoKeyboard(QWidget* parent) : QWidget(parent)
{
    static_assert(KeyCount == geo::KeyCount);
    setObjectName(QStringLiteral("Keyboard"));
    setFixedSize(Area.size());
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Every pixel is painted, so Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    for (int note = geo::LowestNote; note <= geo::HighestNote; ++note)
        At(note).base = At(note).shown = RestingColour(note);
}

QRgb PianoKeyboard::RestingColour(int note)
{
    (void)Index(note);  // a note off the keyboard has no key colour
    return geo::IsBlackNote(note) ? BlackKeyColour : WhiteKeyColour;
}

std::size_t PianoKeyboard::Index(int note)
{
    if (!geo::IsValidNote(note)) throw ComponentError("No key for MIDI note " + std::to_string(note));
    return static_cast<std::size_t>(note - geo::LowestNote);
}

PianoKeyboard::Indicator& PianoKeyboard::At(int note)
{
    return indicators_[Index(note)];
}

const PianoKeyboard::Indicator& PianoKeyboard::At(int note) const
{
    return indicators_[Index(note)];
}

void PianoKeyboard::Show(int note, QRgb colour)
{
    Indicator& indicator = At(note);
    indicator.base = colour;
    // Only a press tells a held key from a free one here.
    const bool pressed = colour == PressedColour;
    if (indicator.mark == KeyMark::Target && !pressed) colour = TargetColour;
    if (indicator.mark == KeyMark::Wrong && pressed) colour = WrongColour;
    if (indicator.shown == colour) return;
    indicator.shown = colour;
    // Hidden squares are drawn once, when they are shown again.
    if (!indicatorsVisible_) return;
    const std::size_t index = Index(note);
    if (scheduled_.test(index)) return;
    scheduled_.set(index);
    update(Local(geo::IndicatorRect(note)));
}

void PianoKeyboard::ClearKeyboard()
{
    for (int note = geo::LowestNote; note <= geo::HighestNote; ++note) {
        Show(note, RestingColour(note));
        At(note).lit = false;
    }
}

void PianoKeyboard::LightKey(int note)
{
    if (!geo::IsValidNote(note)) return;
    Show(note, LitColour);
    At(note).lit = true;
}

void PianoKeyboard::UnlightKey(int note)
{
    if (!geo::IsValidNote(note)) return;
    Show(note, RestingColour(note));
    At(note).lit = false;
}

void PianoKeyboard::PaintKeyLit(int note)
{
    if (!geo::IsValidNote(note)) return;
    Show(note, LitColour);
}

void PianoKeyboard::PaintKeyRest(int note)
{
    if (!geo::IsValidNote(note)) return;
    Show(note, RestingColour(note));
}

void PianoKeyboard::PressKey(int note)
{
    if (!geo::IsValidNote(note)) return;
    Show(note, PressedColour);
}

void PianoKeyboard::ReleaseKey(int note)
{
    if (!geo::IsValidNote(note)) return;
    Show(note, At(note).lit ? LitColour : RestingColour(note));
}

void PianoKeyboard::HideIndicators()
{
    if (!indicatorsVisible_) return;
    indicatorsVisible_ = false;
    update();
}

void PianoKeyboard::ShowIndicators()
{
    if (indicatorsVisible_) return;
    indicatorsVisible_ = true;
    update();
}

void PianoKeyboard::MarkKey(int note, KeyMark mark)
{
    if (!geo::IsValidNote(note)) return;
    At(note).mark = mark;
    Show(note, At(note).base);
}

void PianoKeyboard::ClearMarks()
{
    for (int note = geo::LowestNote; note <= geo::HighestNote; ++note)
        MarkKey(note, KeyMark::None);
}

KeyMark PianoKeyboard::MarkOf(int note) const
{
    return At(note).mark;
}

QRgb PianoKeyboard::ShownColour(int note) const
{
    return At(note).shown;
}

bool PianoKeyboard::IsLit(int note) const
{
    return At(note).lit;
}

bool PianoKeyboard::IndicatorsVisible() const
{
    return indicatorsVisible_;
}

void PianoKeyboard::paintEvent(QPaintEvent*)
{
    // Qt clips to the scheduled squares; drawing the rest is cheaper than working out what to skip.
    QPainter painter(this);
    Paint(painter);
    scheduled_.reset();
}

void PianoKeyboard::Paint(QPainter& painter) const
{
    // Logical-pixel rectangles without antialiasing: exact edges at any device pixel ratio.
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.translate(-Area.topLeft());

    const QColor outline(KeyOutlineColour);
    for (int note = geo::LowestNote; note <= geo::HighestNote; ++note) {
        if (geo::IsBlackNote(note)) continue;
        const QRect key = geo::KeyRect(note);
        painter.fillRect(key, outline);
        painter.fillRect(key.adjusted(1, 1, -1, -1), QColor(WhiteKeyColour));
    }
    for (int note = geo::LowestNote; note <= geo::HighestNote; ++note) {
        if (geo::IsBlackNote(note)) painter.fillRect(geo::KeyRect(note), QColor(BlackKeyColour));
    }
    if (indicatorsVisible_) {
        for (int note = geo::LowestNote; note <= geo::HighestNote; ++note) {
            painter.fillRect(geo::IndicatorRect(note), QColor(At(note).shown));
        }
    }
    painter.fillRect(geo::StripRect(), QColor(StripRedColour));
    for (const int left : geo::TickLefts) {
        painter.fillRect(QRect(left, geo::StripTop, geo::TickWidth, geo::StripHeight),
                         QColor(StripBlackColour));
    }
}

}  // namespace vantor
