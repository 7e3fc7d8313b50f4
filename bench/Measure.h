#pragma once

// What the benchmarks measure alike: CPU time from the process accounting, and the median
// of several runs.

#include <algorithm>
#include <sys/resource.h>
#include <vector>

namespace qm::bench {

inline double Seconds(const timeval& t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

// User and system time together.
inline double CpuSeconds(const rusage& usage)
{
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

template<typename T>
T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace qm::bench
