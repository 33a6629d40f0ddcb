// The LED panel's per-click logic: which LED a press hits, and the output byte of eight colours.

#include "led_panel.h"

#include <array>
#include <benchmark/benchmark.h>
#include <vector>

using namespace tarnovid;

namespace {

struct Point {
    float x, y;
};

// Presses spread over the whole window in twips, most of them misses as in real use, some on
// the LEDs and on the overlaps between neighbouring hit regions.
std::vector<Point> presses() {
    std::vector<Point> points;
    for (float y = 0; y < 4890; y += 97)
        for (float x = 0; x < 6705; x += 131)
            points.push_back({x, y});
    for (float x = 300; x < 5400; x += 15)
        points.push_back({x, 1400});
    return points;
}

void BM_LedAt(benchmark::State& state) {
    const std::vector<Point> points = presses();
    std::size_t i = 0;
    for (auto _ : state) {
        const Point& p = points[i];
        benchmark::DoNotOptimize(ledAt(p.x, p.y));
        if (++i == points.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LedAt);

void BM_OutputByte(benchmark::State& state) {
    std::vector<std::array<Rgb, kLedCount>> panels;
    for (int bits = 0; bits < 256; ++bits) {
        std::array<Rgb, kLedCount> panel{};
        for (int led = 0; led < kLedCount; ++led)
            panel[std::size_t(led)] = (bits >> led) & 1 ? colour::Red : colour::White;
        panels.push_back(panel);
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(outputByte(panels[i]));
        i = (i + 1) & 0xFF;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OutputByte);

} // namespace
