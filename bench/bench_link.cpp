// What the link itself costs per call. Each HIDComm figure has a "raw" twin that drives the same
// simulated device directly on one thread; the difference is the link's own overhead (framing,
// queue handling, the hops to and from the board's I/O thread).
//
// The simulated board keeps every report it is sent, so its cost per write grows with the memory
// it has taken; each pair therefore runs the same fixed number of iterations.

#include "board_facts.h"
#include "device_match.h"
#include "genuine_board_match.h"
#include "hid_backend.h"
#include "hidcomm.h"
#include "report_framing.h"
#include "sim_board.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <string>
#include <thread>

using namespace tarnovid;

namespace {

constexpr benchmark::IterationCount kWrites = 200000;
constexpr benchmark::IterationCount kRoundTrips = 20000;

QByteArray request(char command, char value) {
    QByteArray buffer(9, '\0');
    buffer[0] = command;
    buffer[1] = value;
    return buffer;
}

// A desktop's usual HID population that the poll has to look past: keyboards, mice, a headset.
void addBystanders(SimBackend& backend, int count) {
    for (int i = 0; i < count; ++i) {
        HidDeviceInfo info;
        info.path = "sim/other-" + std::to_string(i);
        info.vendorId = static_cast<std::uint16_t>(0x046d + i);
        info.productId = static_cast<std::uint16_t>(0xc52b + i);
        info.manufacturer = "Logitech";
        info.product = "USB Receiver";
        info.bus = HidBus::Usb;
        backend.addBoard(info);
    }
}

struct OpenLink {
    std::shared_ptr<SimBackend> backend = std::make_shared<SimBackend>();
    std::shared_ptr<SimBoard> board = backend->addTarnovid();
    HIDComm link{backend};
    OpenLink() {
        test::matchGenuineBoard(link);
        link.Connect();
    }
};

void BM_Write_Link(benchmark::State& state) {
    OpenLink rig;
    if (!rig.link.IsConnected()) {
        state.SkipWithError("the simulated board did not open");
        return;
    }
    const QByteArray buffer = request(char(board::kSetOutputs), char(0xA5));
    for (auto _ : state)
        rig.link.Write(buffer, 2);
}
BENCHMARK(BM_Write_Link)->Iterations(kWrites)->Unit(benchmark::kMicrosecond)->UseRealTime();

void BM_Write_Raw(benchmark::State& state) {
    auto backend = std::make_shared<SimBackend>();
    backend->addTarnovid();
    std::string error;
    auto device = backend->open("sim/tarnovid-0", &error);
    OutputFrame frame{};
    frame[1] = board::kSetOutputs;
    frame[2] = 0xA5;
    for (auto _ : state)
        benchmark::DoNotOptimize(device->write(frame.data(), frame.size()));
}
BENCHMARK(BM_Write_Raw)->Iterations(kWrites)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The "Ocitaj" exchange: FC 00 out and the board's answer back, both through the I/O thread.
void BM_OcitajRoundTrip_Link(benchmark::State& state) {
    OpenLink rig;
    if (!rig.link.IsConnected()) {
        state.SkipWithError("the simulated board did not open");
        return;
    }
    const QByteArray buffer = request(char(board::kReadInputs), 0);
    for (auto _ : state) {
        rig.link.Write(buffer, 2);
        benchmark::DoNotOptimize(rig.link.Read(2));
    }
}
BENCHMARK(BM_OcitajRoundTrip_Link)
    ->Iterations(kRoundTrips)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

void BM_OcitajRoundTrip_Raw(benchmark::State& state) {
    auto backend = std::make_shared<SimBackend>();
    backend->addTarnovid();
    std::string error;
    auto device = backend->open("sim/tarnovid-0", &error);
    OutputFrame frame{};
    frame[1] = board::kReadInputs;
    std::uint8_t answer[kReportSize];
    for (auto _ : state) {
        device->write(frame.data(), frame.size());
        benchmark::DoNotOptimize(device->readTimeout(answer, sizeof answer, 500));
    }
}
BENCHMARK(BM_OcitajRoundTrip_Raw)
    ->Iterations(kRoundTrips)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// One tick of the window's poll timer while no board is plugged: enumerate, match, give up.
// The argument is the number of unrelated HID devices present.
void BM_PollTickNoBoard_Sim(benchmark::State& state) {
    auto backend = std::make_shared<SimBackend>();
    addBystanders(*backend, static_cast<int>(state.range(0)));
    backend->addTarnovid()->unplug();
    HIDComm link(backend);
    test::matchGenuineBoard(link);
    for (auto _ : state)
        link.Connect();
    if (link.IsConnected())
        state.SkipWithError("a board was found where none should be");
}
BENCHMARK(BM_PollTickNoBoard_Sim)->Arg(0)->Arg(16)->Unit(benchmark::kMicrosecond)->UseRealTime();

// The same tick on the system's HID access, as users get it. Meaningful only with no Tarnovid
// plugged in; the figure grows with the number of hidraw devices on the machine.
void BM_PollTickNoBoard_Hidapi(benchmark::State& state) {
    HIDComm link(makeHidapiBackend());
    test::matchGenuineBoard(link);
    link.Connect();
    if (link.IsConnected()) {
        state.SkipWithError("a Tarnovid is plugged in: unplug it to measure the idle poll");
        return;
    }
    for (auto _ : state)
        link.Connect();
}
BENCHMARK(BM_PollTickNoBoard_Hidapi)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Plug-in to usable: enumerate, open, start the I/O thread; then give the board up again.
void BM_ConnectRelease_Sim(benchmark::State& state) {
    auto backend = std::make_shared<SimBackend>();
    backend->addTarnovid();
    HIDComm link(backend);
    test::matchGenuineBoard(link);
    for (auto _ : state) {
        link.Connect();
        link.Release();
    }
}
BENCHMARK(BM_ConnectRelease_Sim)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Giving the board up once its thread has gone idle, as when the window is closed with the board
// open: the thread sleeps on its condition variable, never in a read, so nothing is waited for.
void BM_ReleaseIdle_Sim(benchmark::State& state) {
    auto backend = std::make_shared<SimBackend>();
    backend->addTarnovid();
    HIDComm link(backend);
    test::matchGenuineBoard(link);
    for (auto _ : state) {
        state.PauseTiming();
        link.Connect();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        state.ResumeTiming();
        link.Release();
    }
}
BENCHMARK(BM_ReleaseIdle_Sim)->Iterations(8)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
