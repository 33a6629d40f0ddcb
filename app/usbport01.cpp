#include "usbport01.h"

#include "control_binding.h"
#include "fonts.h"
#include "handler_boundary.h"
#include "hidcomm.h"
#include "layout.h"
#include "twips.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QStyle>
#include <algorithm>
#include <vector>

namespace tarnovid {

namespace {

QRect pixelBox(const ControlLayout& def) {
    return QRect(twipsToPixels(def.left), twipsToPixels(def.top), twipsToPixels(def.width),
                 twipsToPixels(def.height));
}

QString text(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

QString objectNameOf(std::string_view name, int index) {
    return index == kSingle ? text(name) : text(name) + QString("(%1)").arg(index);
}

// Mouse button and modifier codes as the handler's arguments carry them.
qint16 buttonCode(Qt::MouseButton button) {
    switch (button) {
    case Qt::LeftButton:
        return 1;
    case Qt::RightButton:
        return 2;
    case Qt::MiddleButton:
        return 4;
    default:
        return 0;
    }
}

qint16 shiftCode(Qt::KeyboardModifiers modifiers) {
    return qint16((modifiers & Qt::ShiftModifier ? 1 : 0) |
                  (modifiers & Qt::ControlModifier ? 2 : 0) |
                  (modifiers & Qt::AltModifier ? 4 : 0));
}

} // namespace

Usbport01::Usbport01(std::shared_ptr<HidBackend> backend, QWidget* parent)
    : QWidget(parent) {
    const WindowLayout& win = windowLayout();
    setObjectName(text(win.name));
    setWindowTitle(text(win.title));
    // Fixed thin border with system menu and close box only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twipsToPixels(win.clientWidth), twipsToPixels(win.clientHeight));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, toQColor(win.back));
    setPalette(pal);
    setAutoFillBackground(true);

    createControls();
    createLink(std::move(backend));
    routeEvents();

    if (QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(),
                                        screen->availableGeometry()));

    runHandler("Form_Load", [this] { Form_Load(); });
}

Usbport01::~Usbport01() { terminateOnce(); }

void Usbport01::createControls() {
    const QColor systemText = palette().color(QPalette::WindowText);
    auto resolve = [&](Rgb c) { return c == kSystemText ? fromQColor(systemText) : c; };

    ControlBinding binding;
    binding.member(Shape1);
    binding.member(Shape2);
    binding.member("Command1", Command1, kSingle);
    binding.member("Command2", Command2, kSingle);
    binding.member("Text1", Text1, kSingle);
    for (std::string_view name :
         {"Label1", "Label2", "Label3", "Label4", "Line1", "Line2", "Line3", "Line4"})
        binding.unheld(name);

    // Lines first: everything else is stacked above them.
    for (const LineLayout& def : lineLayouts()) {
        auto* line = new Line(QPoint(twipsToPixels(def.x1), twipsToPixels(def.y1)),
                              QPoint(twipsToPixels(def.x2), twipsToPixels(def.y2)), def.colour,
                              def.widthPixels, this);
        line->setObjectName(objectNameOf(def.name, def.index));
        binding.bind(def.name, def.index, line);
    }

    std::vector<std::pair<int, QWidget*>> focusable;
    for (const ControlLayout& def : controlLayouts()) {
        QWidget* widget = nullptr;
        switch (def.kind) {
        case ControlKind::Circle:
        case ControlKind::RoundedRect:
            widget = new Shape(def.kind == ControlKind::Circle ? Shape::Form::Circle
                                                               : Shape::Form::RoundedRect,
                               def.back, resolve(def.fore), this);
            break;
        case ControlKind::Label:
            widget = new Label(text(def.text), resolve(def.fore), def.back, this);
            break;
        case ControlKind::Button:
            widget = new Button(text(def.text), def.back, this);
            focusable.emplace_back(def.tabIndex, widget);
            break;
        case ControlKind::TextBox:
            widget = new StatusBox(def.fore, def.back, this);
            focusable.emplace_back(def.tabIndex, widget);
            break;
        }
        widget->setObjectName(objectNameOf(def.name, def.index));
        widget->setGeometry(pixelBox(def));
        widget->setFont(windowFont(def.font));
        binding.bind(def.name, def.index, widget);
    }
    binding.checkComplete();

    std::sort(focusable.begin(), focusable.end());
    for (std::size_t i = 1; i < focusable.size(); ++i)
        setTabOrder(focusable[i - 1].second, focusable[i].second);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(windowLayout().pollIntervalMs);
    Timer1->start(); // runs from creation; ticks arrive once the event loop does
}

void Usbport01::createLink(std::shared_ptr<HidBackend> backend) {
    HIDComm1 = new HIDComm(std::move(backend), this);
    HIDComm1->setObjectName(QStringLiteral("HIDComm1"));
    applyMatchSettings(*HIDComm1, linkMatchSettings());
    HIDComm1->watchDevices(); // a board plugged in is found at once, not at the next tick
}

void Usbport01::routeEvents() {
    connect(Command1, &QPushButton::clicked, this,
            [this] { runHandler("Command1_Click", [this] { Command1_Click(); }); });
    connect(Command2, &QPushButton::clicked, this,
            [this] { runHandler("Command2_Click", [this] { Command2_Click(); }); });
    connect(Timer1, &QTimer::timeout, this,
            [this] { runHandler("Timer1_Timer", [this] { Timer1_Timer(); }); });
    connect(HIDComm1, &HIDComm::Connected, this, [this](int reserved) {
        runHandler("HIDComm1_Connected", [&] { HIDComm1_Connected(reserved); });
    });
    connect(HIDComm1, &HIDComm::Disconnected, this, [this](int reserved) {
        runHandler("HIDComm1_Disconnected", [&] { HIDComm1_Disconnected(reserved); });
    });
}

void Usbport01::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    const qint16 button = buttonCode(event->button());
    const qint16 shift = shiftCode(event->modifiers());
    runHandler("Form_MouseDown", [&] {
        Form_MouseDown(button, shift, pixelsToTwips(at.x()), pixelsToTwips(at.y()));
    });
    event->accept();
}

void Usbport01::closeEvent(QCloseEvent* event) {
    // Closing ends the program; give the board up now rather than at process exit. Giving it up
    // waits for the reader's current read slice, so the window goes first.
    hide();
    terminateOnce();
    event->accept();
}

void Usbport01::terminateOnce() {
    if (terminated_)
        return;
    terminated_ = true;
    Timer1->stop();
    runHandler("Form_Terminate", [this] { Form_Terminate(); });
}

} // namespace tarnovid
