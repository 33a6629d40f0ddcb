// What a program pays per call through the C library (the shared libtarnovid.so.1, on the demo
// board), next to what a script pays for the same through one tarnovidctl process per call: the
// process start, loading Qt and the library, opening the board and giving it up again.

#include <benchmark/benchmark.h>
#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <tarnovid.h>
#include <thread>

extern char** environ;

namespace {

// The simulated board keeps every report it is sent, so each figure runs a fixed number of calls.
constexpr benchmark::IterationCount kCalls = 20000;
constexpr benchmark::IterationCount kProcesses = 200;

void BM_Library_SetOutputs(benchmark::State& state) {
    tarnovid_board* board = nullptr;
    if (tarnovid_open(TARNOVID_DEMO, &board) != TARNOVID_OK)
        return state.SkipWithError(tarnovid_last_error());
    unsigned char outputs = 0;
    for (auto _ : state)
        if (tarnovid_set_outputs(board, ++outputs) != TARNOVID_OK)
            return state.SkipWithError(tarnovid_last_error());
    tarnovid_close(board);
}
BENCHMARK(BM_Library_SetOutputs)->Iterations(kCalls)->UseRealTime();

void BM_Library_ReadInputs(benchmark::State& state) {
    tarnovid_board* board = nullptr;
    if (tarnovid_open(TARNOVID_DEMO, &board) != TARNOVID_OK)
        return state.SkipWithError(tarnovid_last_error());
    unsigned char inputs = 0;
    for (auto _ : state)
        if (tarnovid_read_inputs(board, &inputs) != TARNOVID_OK)
            return state.SkipWithError(tarnovid_last_error());
    tarnovid_close(board);
}
BENCHMARK(BM_Library_ReadInputs)->Iterations(kCalls)->UseRealTime();

// Open, one set, close: what a program that opens the board for every call pays.
void BM_Library_OpenSetClose(benchmark::State& state) {
    for (auto _ : state) {
        tarnovid_board* board = nullptr;
        if (tarnovid_open(TARNOVID_DEMO, &board) != TARNOVID_OK ||
            tarnovid_set_outputs(board, 1) != TARNOVID_OK)
            return state.SkipWithError(tarnovid_last_error());
        tarnovid_close(board);
    }
}
BENCHMARK(BM_Library_OpenSetClose)->Iterations(kCalls / 10)->UseRealTime();

// A close from another thread while a call is stuck on the board: the time close takes (the
// figure) and the time until the stuck call has returned (returned_us), both from the moment
// close is called. Arg 0: a read waiting for an answer that never comes (demo:noreply); arg 1: a
// set whose report the board never takes, stuck in the device (demo:stall).
void BM_Library_CloseDuringStuckCall(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    const bool inDevice = state.range(0) == 1;
    double returnedUs = 0;
    for (auto _ : state) {
        tarnovid_board* board = nullptr;
        if (tarnovid_open(inDevice ? "demo:stall" : "demo:noreply", &board) != TARNOVID_OK)
            return state.SkipWithError(tarnovid_last_error());
        int code = TARNOVID_OK;
        Clock::time_point returned;
        std::thread stuck([&] {
            unsigned char inputs = 0;
            code = inDevice ? tarnovid_set_outputs(board, 1) : tarnovid_read_inputs(board, &inputs);
            returned = Clock::now();
        });
        // Well inside the call, and well before its 500 ms are up.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const Clock::time_point closing = Clock::now();
        tarnovid_close(board);
        const Clock::time_point closed = Clock::now();
        stuck.join();
        if (code != TARNOVID_CLOSED)
            return state.SkipWithError("the stuck call did not end with TARNOVID_CLOSED");
        state.SetIterationTime(std::chrono::duration<double>(closed - closing).count());
        returnedUs += std::chrono::duration<double, std::micro>(returned - closing).count();
    }
    state.counters["returned_us"] =
        benchmark::Counter(returnedUs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Library_CloseDuringStuckCall)->Arg(0)->Arg(1)->Iterations(50)->UseManualTime();

// One tarnovidctl process, as a shell script runs it, to its exit.
void runTarnovidctl(benchmark::State& state, const char* command) {
    char* argv[] = {const_cast<char*>(TARNOVIDCTL),   const_cast<char*>("--board"),
                    const_cast<char*>(TARNOVID_DEMO), const_cast<char*>(command),
                    const_cast<char*>("1"),           nullptr};
    if (std::string_view(command) == "get")
        argv[4] = nullptr;
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    for (auto _ : state) {
        pid_t pid = 0;
        int status = 0;
        if (posix_spawn(&pid, TARNOVIDCTL, &quiet, nullptr, argv, environ) != 0 ||
            waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return state.SkipWithError("tarnovidctl failed");
    }
    posix_spawn_file_actions_destroy(&quiet);
}

void BM_TarnovidctlProcess_Set(benchmark::State& state) { runTarnovidctl(state, "set"); }
BENCHMARK(BM_TarnovidctlProcess_Set)->Iterations(kProcesses)->UseRealTime();

void BM_TarnovidctlProcess_Get(benchmark::State& state) { runTarnovidctl(state, "get"); }
BENCHMARK(BM_TarnovidctlProcess_Get)->Iterations(kProcesses)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
