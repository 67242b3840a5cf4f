// The main window's keyboard operations: each forwards to the keyboard widget.
#include "app/Form1.h"
#include "common/ComponentError.h"
#include "keyboard/PianoKeyboard.h"

namespace vantor {

namespace {

PianoKeyboard& KeyboardOf(PianoKeyboard* keyboard)
{
    if (keyboard == nullptr) throw ComponentError("The on-screen keyboard has not been created");
    return *keyboard;
}

}  // namespace

void Form1::ClearKeyboard()
{
    KeyboardOf(Keyboard).ClearKeyboard();
}
void Form1::LightKey(int note)
{
    KeyboardOf(Keyboard).LightKey(note);
}
void Form1::UnlightKey(int note)
{
    KeyboardOf(Keyboard).UnlightKey(note);
}
void Form1::PaintKeyLit(int note)
{
    KeyboardOf(Keyboard).PaintKeyLit(note);
}
void Form1::PaintKeyRest(int note)
{
    KeyboardOf(Keyboard).PaintKeyRest(note);
}
void Form1::PressKey(int note)
{
    KeyboardOf(Keyboard).PressKey(note);
}
void Form1::ReleaseKey(int note)
{
    KeyboardOf(Keyboard).ReleaseKey(note);
}
void Form1::HideIndicators()
{
    KeyboardOf(Keyboard).HideIndicators();
}
void Form1::ShowIndicators()
{
    KeyboardOf(Keyboard).ShowIndicators();
}
void Form1::MarkKey(int note, KeyMark mark)
{
    KeyboardOf(Keyboard).MarkKey(note, mark);
}

}  // namespace vantor
