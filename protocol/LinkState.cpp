#include "protocol/LinkState.h"

#include "protocol/WireChars.h"

namespace qm {

namespace {

bool IsStartCharacter(char c)
{
    return c == wire::STX || c == wire::NAK || c == wire::ACK;
}

} // namespace

ReplyClass ClassifyFrame(std::string_view frame)
{
    // The NAK test comes first: an ACK-opened frame with NAK second is an error.
    if (frame.size() >= 2 && frame[1] == wire::NAK)
        return ReplyClass::ErrorReply;
    if (!frame.empty() && frame[0] == wire::ACK)
        return ReplyClass::CommandAccepted;
    return ReplyClass::DataRecord;
}

void LinkState::ResetReception()
{
    RxFlag = 0;
    RxCount = 0;
    for (std::string& record : RxRecords)
        record.clear();
    RxBuffer.clear();
    RxDropped = 0;
}

ChunkOutcome LinkState::Receive(std::string_view chunk)
{
    if (RxFlag == 0) {
        // Only a start character arriving on its own opens a frame; anything else that
        // comes while idle is noise and is only echoed.
        if (chunk.size() == 1 && IsStartCharacter(chunk.front())) {
            RxFlag = 1;
            RxBuffer.assign(chunk);
        } else {
            RxBuffer.clear();
        }
        return ChunkOutcome::Nothing;
    }

    RxBuffer.append(chunk);
    if (chunk.size() != 1 || chunk.front() != wire::CR) {
        if (RxBuffer.size() > MaxFrameLength) {
            RxFlag = 0;
            RxBuffer.clear();
            RxBuffer.shrink_to_fit();
            return ChunkOutcome::FrameAbandoned;
        }
        return ChunkOutcome::Nothing;
    }

    const ReplyClass replyClass = ClassifyFrame(RxBuffer);
    std::string frame;
    frame.swap(RxBuffer);
    RxFlag = 0;

    switch (replyClass) {
    case ReplyClass::ErrorReply:
        return ChunkOutcome::ErrorReply;
    case ReplyClass::CommandAccepted:
        return ChunkOutcome::CommandAccepted;
    case ReplyClass::DataRecord:
        break;
    }
    if (RxCount >= StoreSize) {
        ++RxDropped;
        return ChunkOutcome::RecordDropped;
    }
    RxRecords[static_cast<std::size_t>(RxCount)] = std::move(frame);
    ++RxCount;
    return ChunkOutcome::RecordStored;
}

} // namespace qm
