// One tick with the repaint it causes, and the board's open step, on the offscreen platform.
#include "myLib.h"
#include "Window1.h"
#include "framework/Random.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstring>
#include <valgrind/callgrind.h>

namespace {


class Window1& openBoard()
{
    class Window1& window = Window1();
    window.Timer1().setMode(fw::TimerMode::Off); // the benchmark is the clock
    QApplication::processEvents();
    return window;
}

void BM_TickAndRepaint(benchmark::State& state)
{
    class Window1& window = openBoard();
    for (auto _ : state) {
        window.Timer1_Action(window.Timer1());
        QApplication::processEvents();
    }
}
BENCHMARK(BM_TickAndRepaint);

void BM_OpenLayoutAndColours(benchmark::State& state)
{
    class Window1& window = openBoard();
    for (auto _ : state)
        window.Event_Open();
}
BENCHMARK(BM_OpenLayoutAndColours);

}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    QApplication app(argc, argv);
    myLib::InitMyLib("Velquarin Control Board");
    // A fixed sequence of draws keeps runs comparable, under callgrind too.
    fw::Random::setSource([state = 12345u]() mutable {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / double(1u << 24);
    });
    // --ticks=N: N ticks with their repaints and nothing else, counted by callgrind when run
    // as  valgrind --tool=callgrind --collect-atstart=no bench_board --ticks=N
    if (argc == 2 && std::strncmp(argv[1], "--ticks=", 8) == 0) {
        const int ticks = std::atoi(argv[1] + 8);
        class Window1& window = openBoard();
        for (int i = 0; i < 100; ++i) { // warm-up: first paints, caches
            window.Timer1_Action(window.Timer1());
            QApplication::processEvents();
        }
        CALLGRIND_START_INSTRUMENTATION;
        CALLGRIND_TOGGLE_COLLECT;
        for (int i = 0; i < ticks; ++i) {
            window.Timer1_Action(window.Timer1());
            QApplication::processEvents();
        }
        CALLGRIND_TOGGLE_COLLECT;
        CALLGRIND_STOP_INSTRUMENTATION;
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
