// The LED panel's handler: a press anywhere on the window's free area.

#include "led_panel.h"
#include "usbport01.h"

namespace tarnovid {

// Every button and modifier acts alike, so Button and Shift are not consulted.
void Usbport01::Form_MouseDown([[maybe_unused]] qint16 Button, [[maybe_unused]] qint16 Shift,
                               float X, float Y) {
    const int chosen = ledAt(X, Y);
    if (chosen != kNoLed)
        Shape1(chosen)->SetBackColor(toggledLedColour(Shape1(chosen)->BackColor()));

    // Recomputed on every press, hit or not, so Broj has a value from the first press on.
    std::array<Rgb, kLedCount> colours{};
    for (int i = 0; i < kLedCount; ++i)
        colours[std::size_t(i)] = Shape1(i)->BackColor();
    Broj = outputByte(colours);
}

} // namespace tarnovid
