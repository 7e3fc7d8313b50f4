#pragma once

// Replies as the instrument sends them, written out independently of the program's own
// code so that tests compare against something other than the code under test.

#include <QByteArray>

#include <array>
#include <cstdio>

namespace qm::test {

inline const QByteArray STX("\x02", 1);
inline const QByteArray ACK("\x06", 1);
inline const QByteArray NAK("\x15", 1);
inline const QByteArray CR("\r", 1);

// A 42-character data frame: STX, a class character, the record number (2 digits) and,
// each after a comma, counters 1 to 5 (5 digits) and the total (6 digits), then CR.
inline QByteArray DataFrame(int number, const std::array<int, 5>& counters)
{
    int total = 0;
    for (int c : counters)
        total += c;
    char text[96];
    std::snprintf(text, sizeof text,
                  "\x02"
                  "0%02d,%05d,%05d,%05d,%05d,%05d,%06d\r",
                  number % 100, counters[0], counters[1], counters[2], counters[3], counters[4],
                  total);
    return QByteArray(text);
}

// The answer to "read all records" for records 1 to count with simple, distinct values.
inline QByteArray RecordAnswer(int count)
{
    QByteArray answer;
    for (int i = 1; i <= count; ++i)
        answer += DataFrame(i, {i, 2 * i, 3 * i, 4 * i, 5 * i});
    return answer;
}

} // namespace qm::test
