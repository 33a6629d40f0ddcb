#include "commands.h"

#include "board_facts.h"
#include "board_link.h"
#include "board_listing.h"
#include "chosen_board.h"
#include "exit_codes.h"
#include "input_format.h"
#include "link_error.h"
#include "link_settings.h"
#include "open_refusal.h"
#include "timestamp.h"

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <thread>

namespace tarnovid::ctl {

namespace {

using Clock = std::chrono::steady_clock;

// Said on the same line as a refusal for want of permission; the README gives the same words.
#ifdef Q_OS_LINUX
const char* const kAccessHint =
    ": the udev rule 70-tarnovid.rules must be installed and you logged in at the computer; then "
    "replug the board or run: sudo udevadm control --reload-rules && sudo udevadm trigger "
    "--subsystem-match=hidraw --action=change";
#else
const char* const kAccessHint = "";
#endif

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

int failLink(const Environment& env, const LinkError& error) {
    const QString what = QString::fromStdString(error.what());
    switch (error.kind()) {
    case LinkError::Kind::TimedOut:
        return fail(env, kExitNoAnswer, QStringLiteral("no answer: ") + what);
    case LinkError::Kind::Lost:
    case LinkError::Kind::NotOpen: // only once the board has gone
        return fail(env, kExitBoardLost, QStringLiteral("board lost: ") + what);
    case LinkError::Kind::Rejected:
        break;
    }
    return fail(env, kExitFailed, what);
}

// One request, as the window's buttons make them: the command and its value.
void send(BoardLink& link, std::uint8_t command, std::uint8_t value) {
    const std::uint8_t bytes[2] = {command, value};
    link.write(bytes, sizeof bytes, 2);
}

MatchRule genuineRule() { return matchRule(kGenuineBoardLink); }

// Every interface the link would look at, each with what keeps it from being a board.
std::vector<ListedDevice> candidates(HidBackend& backend, const MatchRule& rule) {
    const EnumerateFilter filter = enumerateFilter(rule);
    return listDevices(rule, backend.enumerate(filter.vendorId, filter.productId));
}

// Why no board was opened when none was refused: nothing there, or only lookalikes.
QString noBoard(const Invocation& run, const Environment& env) {
    const MatchRule rule = genuineRule();
    const std::vector<ListedDevice> devices = candidates(*env.backend, rule);
    if (!run.board.isEmpty()) {
        const auto chosen = std::find_if(devices.begin(), devices.end(), [&](const auto& d) {
            return QString::fromStdString(d.info.path) == run.board;
        });
        if (chosen != devices.end() && chosen->mismatches != 0)
            return QStringLiteral("no board at %1: it differs: %2")
                .arg(printable(run.board), mismatchText(rule, *chosen));
        return QStringLiteral("no board at %1").arg(printable(run.board));
    }
    const auto lookalikes = std::count_if(devices.begin(), devices.end(),
                                          [](const auto& d) { return d.mismatches != 0; });
    if (lookalikes == 0)
        return QStringLiteral("no board found");
    return QStringLiteral("no board found; %1 (tarnovidctl list --all shows why)")
        .arg(lookalikesText(rule, int(lookalikes)));
}

// Opens the board for set, get and watch. The exit code after saying why, if it cannot.
std::optional<int> open(BoardLink& link, const Invocation& run, const Environment& env) {
    switch (link.connect(genuineRule())) {
    case BoardLink::Outcome::Opened:
    case BoardLink::Outcome::AlreadyOpen:
        return std::nullopt;
    case BoardLink::Outcome::NoBoard:
        return fail(env, kExitNoBoard, noBoard(run, env));
    case BoardLink::Outcome::Refused:
        break;
    }
    const QString path = QString::fromStdString(link.refusal().path);
    const QString reason = QString::fromStdString(link.refusal().reason);
    if (isAccessDenied(link.refusal().reason))
        return fail(env, kExitAccessDenied,
                    QStringLiteral("access denied to %1 (%2)%3")
                        .arg(printable(path), printable(reason), QString::fromUtf8(kAccessHint)));
    return fail(env, kExitFailed,
                QStringLiteral("cannot open %1: %2").arg(printable(path), printable(reason)));
}

// One read request and its answer, as "Ocitaj" makes them.
int readInputs(BoardLink& link, const Environment& env, std::uint8_t& inputs) {
    try {
        send(link, board::kReadInputs, 0);
        const std::vector<std::uint8_t> reply = link.read(2);
        if (reply.empty())
            return fail(env, kExitNoAnswer, QStringLiteral("no answer: the board answered empty"));
        inputs = reply[0];
        return kExitOk;
    } catch (const LinkError& error) {
        return failLink(env, error);
    }
}

int outputGone(const Environment& env) {
    return fail(env, kExitFailed, QStringLiteral("cannot write the output; stopped"));
}

int list(const Invocation& run, const Environment& env) {
    const MatchRule rule = genuineRule();
    const std::vector<ListedDevice> devices = candidates(*env.backend, rule);
    int boards = 0;
    int lookalikes = 0;
    for (const ListedDevice& device : devices) {
        (device.mismatches == 0 ? boards : lookalikes) += 1;
        if (device.mismatches != 0 && !run.all)
            continue;
        if (!say(env.out,
                 run.style == Style::Json ? deviceJson(rule, device) : deviceLine(rule, device)))
            return outputGone(env);
    }
    if (run.style != Style::Json && !say(env.out, countLine(rule, boards, lookalikes, run.all)))
        return outputGone(env);
    return boards > 0 ? kExitOk : kExitNoBoard;
}

int set(BoardLink& link, const Invocation& run, const Environment& env) {
    try {
        send(link, board::kSetOutputs, run.outputs);
        return kExitOk;
    } catch (const LinkError& error) {
        // A board that stops taking reports is not slow to answer: nothing was asked of it.
        if (error.kind() == LinkError::Kind::TimedOut)
            return fail(env, kExitNoAnswer,
                        QStringLiteral("not taken: the board did not take the outputs within %1 ms")
                            .arg(kReadTimeoutMs));
        return failLink(env, error);
    }
}

int get(BoardLink& link, const Invocation& run, const Environment& env) {
    std::uint8_t inputs = 0;
    if (const int code = readInputs(link, env, inputs); code != kExitOk)
        return code;
    return say(env.out, formatInputs(inputs, run.style)) ? kExitOk : outputGone(env);
}

// Waits until `until`, in short slices so that Ctrl+C ends the wait promptly.
void pause(Clock::time_point until, const Environment& env) {
    for (auto now = Clock::now(); now < until && !env.interrupted(); now = Clock::now())
        std::this_thread::sleep_for(
            std::min<Clock::duration>(until - now, std::chrono::milliseconds(20)));
}

int watch(BoardLink& link, const Invocation& run, const Environment& env) {
    if (env.catchInterrupts)
        env.catchInterrupts();
    const auto interval = std::chrono::milliseconds(run.intervalMs);
    auto next = Clock::now();
    std::optional<std::uint8_t> last;
    qint64 printed = 0;
    while (!env.interrupted()) {
        std::uint8_t inputs = 0;
        if (const int code = readInputs(link, env, inputs); code != kExitOk)
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
    std::shared_ptr<HidBackend> backend = env.backend;
    if (!run.board.isEmpty())
        backend = std::make_shared<ChosenBoardBackend>(backend, run.board.toStdString());
    BoardLink link(backend);
    if (const auto refused = open(link, run, env))
        return *refused;
    const int code = run.command == Command::Set   ? set(link, run, env)
                     : run.command == Command::Get ? get(link, run, env)
                                                   : watch(link, run, env);
    link.close();
    return code;
}

int runCommandLine(const QStringList& arguments, const Environment& env) {
    const ParsedCommandLine parsed = parseCommandLine(arguments);
    if (!parsed.error.isEmpty())
        return fail(env, kExitUsage, parsed.error);
    return runInvocation(parsed.invocation, env);
}

} // namespace tarnovid::ctl
