// What the board sends back: input reports of any length and content, gaps with nothing, then
// the device failing, as the board's I/O thread meets them; and the reply the window makes of a
// report (the first `count` bytes, then the input byte). Also the output framing for any byte
// count, since a count reaches it from the caller unchecked.
//
// Input: output bytes (u8 length, then the bytes), output count (i16), reply count (i16); then
// the thread's reads until the input ends, each a u8 kind: 1 nothing arrived, 2 the device fails,
// else a report of u8 length and that many bytes. The device fails after the last step anyway.

#include "device_io.h"
#include "fuzz_input.h"
#include "link_error.h"
#include "protocol.h"
#include "report_framing.h"

#include <QByteArray>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <vector>

using namespace tarnovid;
using namespace tarnovid::fuzz;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Step {
    int result; // >0 report, 0 nothing arrived, -1 failure
    Bytes report;
};

// Plays the steps to the I/O thread, as hidapi would: a report longer than the buffer is cut to
// it, and once the device has failed it stays failed.
class ScriptedDevice final : public HidDevice {
public:
    explicit ScriptedDevice(std::vector<Step> steps)
        : steps_(std::move(steps)) {}
    int write(const std::uint8_t*, std::size_t) override { return -1; }
    int readTimeout(std::uint8_t* data, std::size_t length, int) override {
        if (next_ == steps_.size())
            return -1;
        const Step& step = steps_[next_++];
        if (step.result <= 0) {
            if (step.result < 0)
                next_ = steps_.size();
            return step.result;
        }
        const std::size_t n = std::min(length, step.report.size());
        std::copy_n(step.report.begin(), n, data);
        return static_cast<int>(n);
    }
    std::string lastError() const override { return "scripted failure"; }

private:
    std::vector<Step> steps_;
    std::size_t next_ = 0;
};

bool badCount(int count, std::size_t available) {
    return count < 0 || count > int(kReportSize) || std::size_t(count) > available;
}

void checkFraming(const Bytes& bytes, int count) {
    OutputFrame frame;
    try {
        frame = frameOutputReport(bytes.data(), bytes.size(), count);
    } catch (const LinkError& e) {
        FUZZ_CHECK(e.kind() == LinkError::Kind::Rejected && badCount(count, bytes.size()));
        return;
    }
    FUZZ_CHECK(!badCount(count, bytes.size()));
    FUZZ_CHECK(frame[0] == 0);
    for (std::size_t i = 0; i < kReportSize; ++i)
        FUZZ_CHECK(frame[i + 1] == (i < std::size_t(count) ? bytes[i] : 0));
}

// What Read and the "Ocitaj" handler make of one report.
void checkReply(const Bytes& report, int count) {
    Bytes reply;
    try {
        reply = replyBytes(report, count);
    } catch (const LinkError& e) {
        FUZZ_CHECK(e.kind() == LinkError::Kind::Rejected && badCount(count, kReportSize));
        return;
    }
    FUZZ_CHECK(!badCount(count, kReportSize));
    FUZZ_CHECK(reply.size() == std::min(report.size(), std::size_t(count)));
    FUZZ_CHECK(std::equal(reply.begin(), reply.end(), report.begin()));

    const QByteArray answer(reinterpret_cast<const char*>(reply.data()), qsizetype(reply.size()));
    try {
        const qint16 inputs = inputByte(answer);
        FUZZ_CHECK(!reply.empty() && inputs == reply[0]);
    } catch (const std::out_of_range&) {
        FUZZ_CHECK(reply.empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const Bytes output = in.bytes(in.u8());
    const int outputCount = static_cast<std::int16_t>(in.u16());
    const int replyCount = static_cast<std::int16_t>(in.u16());
    checkFraming(output, outputCount);

    std::vector<Step> steps;
    std::vector<Bytes> expected; // every report the thread should see, in order
    while (!in.empty() && steps.size() < 512) {
        const std::uint8_t kind = in.u8();
        if (kind == 1) {
            steps.push_back({0, {}});
        } else if (kind == 2) {
            steps.push_back({-1, {}});
            break;
        } else {
            Bytes report = in.bytes(in.u8());
            if (report.size() > kReportSize)
                report.resize(kReportSize);
            // A zero-length read means nothing arrived, as through hidapi.
            if (!report.empty())
                expected.push_back(report);
            steps.push_back({static_cast<int>(report.size()), std::move(report)});
        }
    }

    std::mutex mutex;
    std::condition_variable lostSignal;
    int lostCalls = 0;
    {
        DeviceIo::Options fast;
        fast.presenceCheck = 1ms;
        DeviceIo io(
            std::make_unique<ScriptedDevice>(std::move(steps)),
            [&] {
                std::lock_guard lock(mutex);
                ++lostCalls;
                lostSignal.notify_all();
            },
            fast);
        {
            // Let the thread play the whole script first, so the queue's contents are exact.
            std::unique_lock lock(mutex);
            FUZZ_CHECK(lostSignal.wait_for(lock, 10s, [&] { return lostCalls > 0; }));
        }
        const std::size_t kept = std::min(expected.size(), DeviceIo::kMaxQueued);
        for (std::size_t i = expected.size() - kept; i < expected.size(); ++i) {
            Bytes report;
            FUZZ_CHECK(io.waitForReport(0ms, report) == DeviceIo::Wait::Report);
            FUZZ_CHECK(report == expected[i]);
            checkReply(report, replyCount);
        }
        // Once the queue is empty the loss must show, however the thread orders marking it and
        // telling the owner; the wait only covers that ordering, it is never the full time.
        Bytes none;
        FUZZ_CHECK(io.waitForReport(10s, none) == DeviceIo::Wait::Lost);
        FUZZ_CHECK(io.lost());
    }
    FUZZ_CHECK(lostCalls == 1);
    checkReply({}, replyCount);
    return 0;
}
