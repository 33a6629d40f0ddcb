#include "commands.h"

#include "board_listing.h"
#include "exit_codes.h"
#include "input_format.h"
#include "timestamp.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <tarnovid.h>
#include <thread>

namespace tarnovid::ctl {

// The library's results are the tool's exit codes, so that a script and a program hear the same.
static_assert(TARNOVID_FAILED == kExitFailed && TARNOVID_BAD_ARGUMENT == kExitUsage &&
              TARNOVID_NO_BOARD == kExitNoBoard && TARNOVID_ACCESS_DENIED == kExitAccessDenied &&
              TARNOVID_NO_ANSWER == kExitNoAnswer && TARNOVID_BOARD_LOST == kExitBoardLost);

namespace {

using Clock = std::chrono::steady_clock;
using Board = std::unique_ptr<tarnovid_board, void (*)(tarnovid_board*)>;

// False once the stream cannot take the line (a closed pipe under a parent that ignores SIGPIPE,
// a full disk): the output is gone, and a program that kept going would write into nothing.
bool say(QTextStream& stream, const QString& line) {
    stream << line << '\n';
    stream.flush(); // a line is worth something to whoever reads the pipe only once it is there
    return stream.status() == QTextStream::Ok;
}

int fail(const Environment& env, int code, QString message) {
    // The system's reasons are free text; the error stays one line whatever they hold.
    message.replace(QLatin1Char('\n'), QLatin1Char(' '))
        .replace(QLatin1Char('\r'), QLatin1Char(' '));
    say(env.err, QStringLiteral("tarnovidctl: ") + message);
    return code;
}

// The library's own words for what its last call ran into.
QString lastError() { return QString::fromUtf8(tarnovid_last_error()); }

// Whether the devices there explain why no board was opened: a lookalike, or the device at the
// path asked for is none.
bool lookalikesExplain(const Invocation& run, const std::vector<ListedDevice>& devices) {
    return std::any_of(devices.begin(), devices.end(), [&](const ListedDevice& d) {
        return run.board.isEmpty() ? isLookalike(d) : d.path == run.board && d.differs != 0;
    });
}

// Opens the board for set, get and watch. The exit code after saying why, if it cannot.
std::optional<int> open(Board& board, const Invocation& run, const Environment& env) {
    const QByteArray path = run.board.toUtf8();
    tarnovid_board* opened = nullptr;
    const int code = tarnovid_open(run.board.isEmpty() ? nullptr : path.constData(), &opened);
    if (code == TARNOVID_OK) {
        board.reset(opened);
        return std::nullopt;
    }
    if (code == TARNOVID_NO_BOARD) {
        QString said = lastError();
        std::vector<ListedDevice> devices;
        if (listDevices(devices) == TARNOVID_OK && lookalikesExplain(run, devices))
            said += QStringLiteral(" (tarnovidctl list --all shows why)");
        return fail(env, kExitNoBoard, said);
    }
    // A refusal: the path and the system's reason, and for a permission problem what to do.
    return fail(env, code, printable(lastError()));
}

// One read request and its answer, as "Ocitaj" makes them.
int readInputs(tarnovid_board* board, const Environment& env, std::uint8_t& inputs) {
    unsigned char read = 0;
    if (const int code = tarnovid_read_inputs(board, &read); code != TARNOVID_OK)
        return fail(env, code, lastError());
    inputs = read;
    return kExitOk;
}

int outputGone(const Environment& env) {
    return fail(env, kExitFailed, QStringLiteral("cannot write the output; stopped"));
}

int list(const Invocation& run, const Environment& env) {
    std::vector<ListedDevice> devices;
    if (const int code = listDevices(devices); code != TARNOVID_OK)
        return fail(env, code, lastError());
    int boards = 0;
    int lookalikes = 0;
    for (const ListedDevice& device : devices) {
        boards += device.differs == 0;
        lookalikes += isLookalike(device);
        if (device.differs != 0 && !run.all)
            continue;
        if (!say(env.out, run.style == Style::Json ? deviceJson(device) : deviceLine(device)))
            return outputGone(env);
    }
    if (run.style != Style::Json && !say(env.out, countLine(boards, lookalikes, run.all)))
        return outputGone(env);
    return boards > 0 ? kExitOk : kExitNoBoard;
}

int set(tarnovid_board* board, const Invocation& run, const Environment& env) {
    const int code = tarnovid_set_outputs(board, run.outputs);
    return code == TARNOVID_OK ? kExitOk : fail(env, code, lastError());
}

int get(tarnovid_board* board, const Invocation& run, const Environment& env) {
    std::uint8_t inputs = 0;
    if (const int code = readInputs(board, env, inputs); code != kExitOk)
        return code;
    return say(env.out, formatInputs(inputs, run.style)) ? kExitOk : outputGone(env);
}

// Waits until `until`, in short slices so that Ctrl+C ends the wait promptly.
void pause(Clock::time_point until, const Environment& env) {
    for (auto now = Clock::now(); now < until && !env.interrupted(); now = Clock::now())
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - now, std::chrono::milliseconds(20)));
}

int watch(tarnovid_board* board, const Invocation& run, const Environment& env) {
    if (env.catchInterrupts)
        env.catchInterrupts();
    const auto interval = std::chrono::milliseconds(run.intervalMs);
    auto next = Clock::now();
    std::optional<std::uint8_t> last;
    qint64 printed = 0;
    while (!env.interrupted()) {
        std::uint8_t inputs = 0;
        if (const int code = readInputs(board, env, inputs); code != kExitOk)
            return code;
        if (!run.changesOnly || !last || inputsDiffer(*last, inputs)) {
            if (!say(env.out,
                     formatInputs(inputs, run.style, isoTimestamp(QDateTime::currentDateTime()))))
                return outputGone(env);
            if (++printed == run.count)
                break;
        }
        last = inputs;
        // A fixed pace, not a fixed gap: samples stay on their interval however long a read
        // took, and a late one is not made up for with a burst.
        next = std::max(next + interval, Clock::now());
        pause(next, env);
    }
    return kExitOk;
}

} // namespace

int runInvocation(const Invocation& run, const Environment& env) {
    switch (run.command) {
    case Command::Help:
        env.out << helpText();
        env.out.flush();
        return kExitOk;
    case Command::Version:
        say(env.out, versionText());
        return kExitOk;
    case Command::List:
        return list(run, env);
    case Command::Set:
    case Command::Get:
    case Command::Watch:
        break;
    }
    Board board(nullptr, tarnovid_close);
    if (const auto refused = open(board, run, env))
        return *refused;
    const int code = run.command == Command::Set   ? set(board.get(), run, env)
                     : run.command == Command::Get ? get(board.get(), run, env)
                                                   : watch(board.get(), run, env);
    board.reset();
    return code;
}

int runCommandLine(const QStringList& arguments, const Environment& env) {
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.error.isEmpty())
        return fail(env, kExitUsage, parsed.error);
    return runInvocation(parsed.invocation, env);
}

} // namespace tarnovid::ctl
