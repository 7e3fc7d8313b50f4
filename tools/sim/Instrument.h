#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace qmsim {

// The instrument as the data link sees it: stored records of five counters and the present
// counter values, and its answers to command frames.
class Instrument {
public:
    static constexpr int MaxRecords = 99;

    struct Record {
        int number = 0;
        std::array<int, 5> counters{};
        int total() const;
    };

    Instrument(int records, std::uint32_t seed);

    const std::vector<Record>& records() const { return m_records; }
    const Record& present() const { return m_present; }

    // Every command is answered with an error reply.
    void setRefuseAll(bool refuse) { m_refuseAll = refuse; }
    // Only the clear is answered with an error reply; the records stay.
    void setRefuseClear(bool refuse) { m_refuseClear = refuse; }
    // Each answer to "read all" holds the stored records this many times over, as a faulty
    // instrument might send them: more frames than the data link's store holds.
    void setRepeat(int times) { m_repeat = times; }
    // After each answer to "read all" one more record is stored, as by an instrument that
    // goes on counting between two readings (up to MaxRecords).
    void setStoreAfterRead(bool store) { m_storeAfterRead = store; }

    // The answer to one command frame (STX, verb, space, argument, ETX, CR).
    //   RDD ALL   one data frame for each stored record (repeated, and a record stored
    //             after it, as set above)
    //   RDD NOW   one data frame with the present values, which then move on a little
    //   CLR ALL   ACK CR, and the stored records are gone (unless the clear is refused)
    //   anything else: STX NAK CR
    std::string Respond(std::string_view frame);

    // A 42-character data frame: STX, the class character, the record number (2 digits),
    // then, each after a comma, counters 1 to 5 (5 digits) and their total (6 digits), CR.
    static std::string DataFrame(char classCharacter, const Record& record);

private:
    Record NewRecord(int number);

    std::vector<Record> m_records;
    Record m_present;
    std::mt19937 m_random;
    bool m_refuseAll = false;
    bool m_refuseClear = false;
    int m_repeat = 1;
    bool m_storeAfterRead = false;
};

// Collects command frames from the bytes the data link sends: a frame runs from an STX to
// the next CR. Bytes outside a frame are ignored.
class CommandReader {
public:
    // Feeds bytes; returns the frames they completed.
    std::vector<std::string> Feed(std::string_view bytes);

private:
    std::string m_frame;
    bool m_open = false;
};

} // namespace qmsim
