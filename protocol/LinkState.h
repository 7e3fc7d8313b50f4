#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// What a closed reply frame is, decided by its first two characters.
enum class ReplyClass {
    ErrorReply,      // NAK at position 2, whatever opened the frame
    CommandAccepted, // opened by ACK
    DataRecord,      // everything else
};

ReplyClass ClassifyFrame(std::string_view frame);

// What one received chunk did to the receiver.
enum class ChunkOutcome {
    Nothing,         // no frame closed (opened, extended, or the chunk was discarded)
    ErrorReply,      // an error reply closed
    CommandAccepted, // an accepted-command reply closed
    RecordStored,    // a data frame closed and was stored at RxCount - 1
    RecordDropped,   // a data frame closed while the store was full; not stored
    FrameAbandoned,  // an open frame outgrew MaxFrameLength and was given up
};

// The receiving side of the device link for one run of the program: the record store and
// the receiver. One object of this type is created at start-up and shared by the windows;
// nothing else holds received records.
struct LinkState {
    static constexpr int StoreSize = 201;
    // An open frame may hold this many characters; one more that is not its closing CR
    // abandons it, so noise without a CR cannot grow the buffer without end.
    static constexpr std::size_t MaxFrameLength = 4096;

    std::array<std::string, StoreSize> RxRecords{}; // whole data frames, STX to CR
    std::int16_t RxCount = 0;                       // records stored; index of the next
    std::int16_t RxFlag = 0;                        // 0 idle, 1 a frame is open
    std::string RxBuffer;                           // the frame being assembled
    std::int64_t RxDropped = 0;                     // data frames that arrived with the store full

    // Empties the store and abandons any open frame.
    void ResetReception();

    // Takes one chunk read from the serial control: frames it, and when a frame closes,
    // classifies it and stores a data frame at RxCount.
    ChunkOutcome Receive(std::string_view chunk);
};

} // namespace qm
