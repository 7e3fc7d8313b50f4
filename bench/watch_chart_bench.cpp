// What the watch's chart costs with a long watch held: 8 instruments with the most readings
// each keeps (two days and more at one a second), at a window's size.
//
// Prints the time of a whole drawing (as a resize, a series hidden or the change of scale
// makes it: median of several), of a change between values and changes shown (the scales
// found anew over every reading, then the whole drawn), and of bringing the kept picture up
// to date after one new reading of each instrument (what a watch every second asks: CPU
// time, the mean of many).

#include "bench/Measure.h"
#include "records/WatchChartData.h"
#include "ui/WatchChart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QWindow>

#include <cstdio>
#include <sys/resource.h>
#include <vector>

using namespace qm;

namespace {

constexpr int Instruments = 8;
constexpr qint64 Start = 1'765'000'000'000; // ms, a December day

WatchChartPoint Reading(int instrument, qint64 k)
{
    WatchChartPoint point;
    point.utcMs = Start + k * 1000;
    point.offsetSeconds = 3600;
    for (int series = 0; series < ChartTotalSeries; ++series)
        point.values[std::size_t(series)] = double(k * (series + 1) + instrument * 1000 + k % 7);
    point.values[ChartTotalSeries] = double(k * 15);
    point.noted = k % 997 == 0;
    return point;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    WatchChartData data;
    std::vector<std::string> names;
    for (int i = 0; i < Instruments; ++i)
        names.push_back("/dev/ttyUSB" + std::to_string(i));
    data.SetInstruments(names);
    // Short of the most by the readings to come, so that none is let go while they are timed
    // (that draws the whole again).
    constexpr int Rounds = 50;
    const qint64 held = qint64(WatchChartMostPoints) - Rounds;
    for (qint64 k = 0; k < held; ++k) {
        for (int i = 0; i < Instruments; ++i)
            data.Add(i, Reading(i, k));
    }

    WatchChart chart(data);
    chart.resize(1200, 700);
    QImage image(chart.size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> whole;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        QPainter painter(&image);
        chart.DrawWhole(painter, chart.size());
        whole.push_back(double(timer.nsecsElapsed()) / 1e6);
    }

    // The kept picture; the mode changed and shown at once, back and forth.
    chart.show();
    while (!chart.windowHandle()->isExposed())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    chart.repaint();
    std::vector<double> modes;
    for (int run = 0; run < 4; ++run) {
        QElapsedTimer timer;
        timer.start();
        chart.SetMode(run % 2 == 0 ? WatchChartMode::Changes : WatchChartMode::Values);
        chart.repaint();
        modes.push_back(double(timer.nsecsElapsed()) / 1e6);
    }

    // Then a reading of each instrument at a time, each brought to the picture as the window
    // does at its refresh.
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    for (qint64 k = held; k < held + Rounds; ++k) {
        for (int i = 0; i < Instruments; ++i)
            data.Add(i, Reading(i, k));
        chart.DataChanged();
        while (chart.RefreshPending())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        chart.repaint();
    }
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const double strip = (bench::CpuSeconds(after) - bench::CpuSeconds(before)) * 1000 / Rounds;
    const WatchChart::Draws draws = chart.DrawCount();
    std::printf("watch chart, %d instruments of %lld readings each, 1200 x 700:\n", Instruments,
                qlonglong(held));
    std::printf("  drawn whole: median %.1f ms\n", bench::Median(whole));
    std::printf("  values to changes and back: median %.1f ms\n", bench::Median(modes));
    std::printf("  a reading of each brought to the picture and shown: %.2f ms of CPU each time "
                "(%d whole and %d strip drawings in all)\n",
                strip, draws.whole, draws.strips);
    return 0;
}
