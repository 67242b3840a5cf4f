#pragma once

#include <QColor>
#include <QRect>
#include <QWidget>
#include <array>
#include <bitset>

namespace vantor {

inline constexpr QRgb WhiteKeyColour = 0xFFFFFF;
inline constexpr QRgb BlackKeyColour = 0xC0C0C0;
inline constexpr QRgb LitColour = 0x404040;
inline constexpr QRgb PressedColour = 0x0000A0;
// Waiting for notes: the keys to play and the wrong keys held. Their lightness sets
// them apart from every other colour (CIE L* about 62 and 43, against 100 and 78 at
// rest, 27 lit and 17 pressed), so they read apart without telling green from red.
inline constexpr QRgb TargetColour = 0x00B000;
inline constexpr QRgb WrongColour = 0xD00000;
inline constexpr QRgb StripRedColour = 0xFF0000;
inline constexpr QRgb StripBlackColour = 0x000000;
// The outline that separates neighbouring white keys (they overlap by one pixel).
inline constexpr QRgb KeyOutlineColour = 0x000000;

// A mark laid over a key while the program waits for notes: a target shows while
// its key is not pressed, a wrong mark while its key is pressed.
enum class KeyMark
{
    None,
    Target,
    Wrong
};

// The 88-key display (A0 to C8): key faces, the octave strip and one indicator
// square per key. Display only: the mouse does nothing on it. Operations taking a
// note ignore notes outside 21..108. Repaints are coalesced.
class PianoKeyboard : public QWidget
{
    Q_OBJECT
public:
    // Where the widget sits in the main window's client area; all drawing
    // coordinates of the keyboard are client-area coordinates minus this origin.
    static constexpr QRect Area{16, 96, 833, 75};
    static constexpr int KeyCount = 88;

    explicit PianoKeyboard(QWidget* parent = nullptr);

    void ClearKeyboard();
    void LightKey(int note);
    void UnlightKey(int note);
    void PaintKeyLit(int note);
    void PaintKeyRest(int note);
    void PressKey(int note);
    void ReleaseKey(int note);
    void HideIndicators();
    void ShowIndicators();
    void MarkKey(int note, KeyMark mark);
    void ClearMarks();

    // State as drawn, for callers and tests. A note outside 21..108 is a caller's
    // mistake here and throws ComponentError.
    QRgb ShownColour(int note) const;
    bool IsLit(int note) const;
    bool IndicatorsVisible() const;
    KeyMark MarkOf(int note) const;

    // The colour an indicator shows at rest: the colour of its key.
    static QRgb RestingColour(int note);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Indicator
    {
        QRgb base = 0;   // what the key operations ask for
        QRgb shown = 0;  // that, under the key's mark
        bool lit = false;
        KeyMark mark = KeyMark::None;
    };

    // Key index of a note; throws for a note off the keyboard.
    static std::size_t Index(int note);
    Indicator& At(int note);
    const Indicator& At(int note) const;
    // Sets what the key operations ask an indicator to show and schedules its square for the next paint.
    void Show(int note, QRgb colour);
    void Paint(QPainter& painter) const;

    std::array<Indicator, KeyCount> indicators_{};
    // Squares already scheduled since the last paint: a burst of operations
    // asks Qt for each square at most once.
    std::bitset<KeyCount> scheduled_;
    bool indicatorsVisible_ = true;
};

}  // namespace vantor
