// One tick with the repaint it causes, and the board's open step, on the offscreen platform.
#include "Random.h"
#include "Window1.h"
#include "myLib.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

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
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
