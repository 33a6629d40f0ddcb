// Shared entry point of the micro-benchmarks: the link posts its loss notices through Qt's event
// machinery, so a core application exists before any benchmark runs.

#include <QCoreApplication>
#include <benchmark/benchmark.h>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
