#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace qm {

// When a watch's readings are due: at start + k × every on a monotonic clock, k = 0, 1, 2...
// Each instant is computed from the start, never from the reading before, so that however
// late a reading is taken, the ones after it stay where they were.
class WatchSchedule {
public:
    using Duration = std::chrono::nanoseconds; // instants are durations on a monotonic clock

    // The first reading (k = 0) is due at `start`. An `every` under 1 ms is taken as 1 ms.
    WatchSchedule(Duration start, Duration every);

    Duration Every() const { return m_every; }
    // start + index × every.
    Duration DueAt(std::int64_t index) const { return m_start + index * m_every; }

    // Readings due by a moment, as Take gives them. A step that is not missed is one reading.
    // A missed step stands for `count` readings in a row, index to index + count - 1, due at
    // due, due + every, ...: after a machine was suspended for a day at 1 s, one step rather
    // than 86,400.
    struct Step {
        std::int64_t index;
        Duration due;
        bool missed;
        std::int64_t count = 1;
    };
    // The readings due by `now` and not taken yet, in order, and advances past them: at most a
    // missed step (the readings that came due while no one looked: a stalled process, a
    // suspended machine), then the reading to take now (missed == false), the last one due.
    // Missed readings are written with a note, never sent late in a bunch. Empty when nothing
    // is due yet.
    std::vector<Step> Take(Duration now);

    // How long until the next reading is due; 0 when it is due already.
    Duration UntilNext(Duration now) const;
    // The index of the next reading not taken yet.
    std::int64_t NextIndex() const { return m_next; }

private:
    Duration m_start;
    Duration m_every;
    std::int64_t m_next = 0;
};

} // namespace qm
