// "Upisi" writes the LED byte to the board; "Ocitaj" reads the board's inputs onto the indicators.

#include "hidcomm.h"
#include "indicators.h"
#include "protocol.h"
#include "resume_next.h"
#include "usbport01.h"

#include <QCoreApplication>

namespace tarnovid {

void Usbport01::Command1_Click() {
    QByteArray buffer = newRequest();
    // From here on a failing step is skipped and the next one runs.
    resumeNext([&] { Command1->setEnabled(false); });
    resumeNext([&] { buffer[0] = kWriteOutputs; });
    resumeNext([&] { buffer[1] = requestByte(Broj); });
    resumeNext([&] { HIDComm1->Write(buffer, kRequestCount); });
    // A board lost during the click leaves the button disabled: it is only usable while open.
    resumeNext([&] {
        if (HIDComm1->IsConnected())
            Command1->setEnabled(true);
    });
}

void Usbport01::Command2_Click() {
    QByteArray buffer = newRequest();
    // From here on a failing step is skipped and the next one runs.
    resumeNext([&] { buffer[0] = kReadInputs; });
    resumeNext([&] { HIDComm1->Write(buffer, kRequestCount); });
    // A failed read must not leave the request in the buffer: its 0xFC is not the board's inputs.
    resumeNext([&] {
        buffer.clear();
        buffer = HIDComm1->Read(kRequestCount);
    });
    resumeNext([] { QCoreApplication::processEvents(); });
    bool fresh = false;
    resumeNext([&] {
        Broj1 = inputByte(buffer);
        fresh = true;
    });
    // Without a fresh answer the indicators keep what they show.
    resumeNext([&] {
        if (!fresh)
            return;
        for (int i = 0; i < kIndicatorCount; ++i)
            Shape2(i)->SetBackColor(indicatorColour(Broj1, i));
    });
    resumeNext([&] {
        if (HIDComm1->IsConnected())
            Command1->setEnabled(true);
    });
}

} // namespace tarnovid
