#include "tools/sim/Instrument.h"

#include <cstdio>

namespace qmsim {

namespace {

constexpr char STX = '\x02';
constexpr char ETX = '\x03';
constexpr char ACK = '\x06';
constexpr char NAK = '\x15';
constexpr char CR = '\r';

constexpr char RecordClass = 'R';
constexpr char PresentClass = 'N';

std::string Command(std::string_view verb, std::string_view argument)
{
    std::string frame;
    frame += STX;
    frame += verb;
    frame += ' ';
    frame += argument;
    frame += ETX;
    frame += CR;
    return frame;
}

} // namespace

int Instrument::Record::total() const
{
    int sum = 0;
    for (const int c : counters)
        sum += c;
    return sum;
}

Instrument::Instrument(int records, std::uint32_t seed)
    : m_random(seed)
{
    for (int i = 1; i <= records && i <= MaxRecords; ++i)
        m_records.push_back(NewRecord(i));
    m_present = NewRecord(0);
}

Instrument::Record Instrument::NewRecord(int number)
{
    std::uniform_int_distribution<int> count(0, 99999);
    Record record;
    record.number = number;
    for (int& c : record.counters)
        c = count(m_random);
    return record;
}

std::string Instrument::DataFrame(char classCharacter, const Record& record)
{
    char text[64];
    std::snprintf(text, sizeof text, "%c%c%02d,%05d,%05d,%05d,%05d,%05d,%06d%c", STX,
                  classCharacter, record.number % 100, record.counters[0] % 100000,
                  record.counters[1] % 100000, record.counters[2] % 100000,
                  record.counters[3] % 100000, record.counters[4] % 100000,
                  record.total() % 1000000, CR);
    return text;
}

std::string Instrument::Respond(std::string_view frame)
{
    const std::string error{STX, NAK, CR};
    if (m_refuseAll)
        return error;
    if (frame == Command("RDD", "ALL")) {
        std::string answer;
        for (int time = 0; time < m_repeat; ++time) {
            for (const Record& record : m_records)
                answer += DataFrame(RecordClass, record);
        }
        if (m_storeAfterRead && int(m_records.size()) < MaxRecords)
            m_records.push_back(NewRecord(int(m_records.size()) + 1));
        return answer;
    }
    if (frame == Command("RDD", "NOW")) {
        std::string answer = DataFrame(PresentClass, m_present);
        std::uniform_int_distribution<int> step(0, 9);
        for (int& c : m_present.counters)
            c = (c + step(m_random)) % 100000;
        return answer;
    }
    if (frame == Command("CLR", "ALL")) {
        if (m_refuseClear)
            return error;
        m_records.clear();
        return std::string{ACK, CR};
    }
    return error;
}

std::vector<std::string> CommandReader::Feed(std::string_view bytes)
{
    std::vector<std::string> frames;
    for (const char c : bytes) {
        if (c == STX) {
            m_open = true;
            m_frame.assign(1, c);
        } else if (m_open) {
            m_frame += c;
            if (c == CR) {
                frames.push_back(std::move(m_frame));
                m_frame.clear();
                m_open = false;
            } else if (m_frame.size() > 64) {
                m_open = false; // not a command; wait for the next STX
            }
        }
    }
    return frames;
}

} // namespace qmsim
