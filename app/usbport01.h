#pragma once
// Usbport01, the program's only window: the board's front panel. It owns every control, the link
// to the board and the two window-level values, and routes each event to the handler named after
// its control and event. The handlers themselves are defined beside the subsystem they belong to:
// the LED panel and the command buttons in board/, connection supervision in link/.

#include "control_array.h"
#include "controls.h"

#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>

namespace tarnovid {

class HIDComm;
class HidBackend;

class Usbport01 : public QWidget {
    Q_OBJECT
public:
    // The backend is the system's HID access in the real program, a simulated board in tests and
    // in the demo.
    explicit Usbport01(std::shared_ptr<HidBackend> backend, QWidget* parent = nullptr);
    ~Usbport01() override;

    // The controls the handlers use, addressed by name and index. The captions and frame lines
    // are children named like the others ("Label1(0)", "Line2(1)", "Label3") and held by no member.
    ControlArray<Shape> Shape1{"Shape1"}; // LEDs, index = output bit
    ControlArray<Shape> Shape2{"Shape2"}; // input indicators, index = input bit
    Button* Command1 = nullptr;           // "Upisi"
    Button* Command2 = nullptr;           // "Ocitaj"
    StatusBox* Text1 = nullptr;
    QTimer* Timer1 = nullptr;
    HIDComm* HIDComm1 = nullptr;

    // Window-level values.
    std::optional<int> Broj; // output byte; no value until the first press on the window
    qint16 Broj1 = 0;        // last input byte read from the board

    // Handlers.
    void Form_Load();
    void Form_MouseDown(qint16 Button, qint16 Shift, float X, float Y);
    void Command1_Click();
    void Command2_Click();
    void Timer1_Timer();
    void HIDComm1_Connected(int reserved);
    void HIDComm1_Disconnected(int reserved);
    void Form_Terminate();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    void createLink(std::shared_ptr<HidBackend> backend);
    void routeEvents();
    void terminateOnce();

    bool terminated_ = false;
};

} // namespace tarnovid
