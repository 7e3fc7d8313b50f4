#pragma once

namespace qm {

class RecordChart;

// The chart, to a screen reader: a chart whose children are its legend entries, check boxes
// named after their series, checked while the series is shown, whose press hides or shows
// it. Its description is the chart's summary unless one was given.

// Puts the chart's interface in place for every chart of the program; once is enough, and
// more calls change nothing.
void MakeChartsReadable();

// A screen reader that has asked for the legend entry of `series` is told that it was
// checked or unchecked.
void TellSeriesShownChanged(RecordChart& chart, int series);

} // namespace qm
