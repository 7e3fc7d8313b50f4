#pragma once

// What the benchmarks measure alike: CPU time from the process accounting, and the median
// of several runs.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <sys/resource.h>
#include <sys/types.h>
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

// The resident size of a process, in KiB; 0 once it is gone.
inline long ResidentKiB(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

template<typename T>
T Median(std::vector<T> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace qm::bench
