// Keeps the window connected to the board without user action and mirrors the link's state on the
// two buttons and the status line.

#include "hidcomm.h"
#include "usbport01.h"

namespace tarnovid {

namespace {
const QString kDisconnectedText = QStringLiteral("Tarnovid - diskonektovano");
}

void Usbport01::Form_Load() {
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    HIDComm1->Connect();
}

void Usbport01::Timer1_Timer() {
    if (!HIDComm1->IsConnected())
        HIDComm1->Connect();
}

void Usbport01::HIDComm1_Connected([[maybe_unused]] int reserved) {
    Command1->setEnabled(true);
    Text1->setText(HIDComm1->DeviceText());
    Command2->setEnabled(true);
}

void Usbport01::HIDComm1_Disconnected([[maybe_unused]] int reserved) {
    Command1->setEnabled(false);
    Command2->setEnabled(false);
    Text1->setText(kDisconnectedText);
}

void Usbport01::Form_Terminate() { HIDComm1->Release(); }

} // namespace tarnovid
