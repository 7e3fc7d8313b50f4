#include "protocol/CommandFrame.h"
#include "protocol/LinkState.h"
#include "tests/support/Frames.h"
#include "tests/support/TestMain.h"

#include <QTest>

#include <string>
#include <vector>

using namespace qm;
using namespace qm::test;

Q_DECLARE_METATYPE(qm::ChunkOutcome)

namespace {

using Chunks = QList<QByteArray>;

// Feeds chunks one receive event each; returns the outcome of the last one.
ChunkOutcome Feed(LinkState& link, const Chunks& chunks)
{
    ChunkOutcome last = ChunkOutcome::Nothing;
    for (const QByteArray& chunk : chunks)
        last = link.Receive(std::string_view(chunk.constData(), std::size_t(chunk.size())));
    return last;
}

Chunks OneByOne(const QByteArray& bytes)
{
    Chunks chunks;
    for (char c : bytes)
        chunks << QByteArray(1, c);
    return chunks;
}

std::string Str(const QByteArray& bytes)
{
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

class TestLinkState : public QObject {
    Q_OBJECT

private slots:
    void classifiesClosedFrames_data()
    {
        QTest::addColumn<Chunks>("chunks");
        QTest::addColumn<ChunkOutcome>("outcome");

        QTest::newRow("STX A CR is data") << Chunks{STX, "A", CR} << ChunkOutcome::RecordStored;
        QTest::newRow("STX CR is data") << Chunks{STX, CR} << ChunkOutcome::RecordStored;
        QTest::newRow("STX NAK CR is an error") << Chunks{STX, NAK, CR} << ChunkOutcome::ErrorReply;
        QTest::newRow("ACK CR is accepted") << Chunks{ACK, CR} << ChunkOutcome::CommandAccepted;
        QTest::newRow("ACK ACK CR") << Chunks{ACK, ACK, CR} << ChunkOutcome::CommandAccepted;
        QTest::newRow("ACK 0 CR") << Chunks{ACK, "0", CR} << ChunkOutcome::CommandAccepted;
        // The NAK test comes before the ACK test.
        QTest::newRow("ACK NAK CR is an error") << Chunks{ACK, NAK, CR} << ChunkOutcome::ErrorReply;
        QTest::newRow("NAK NAK CR is an error") << Chunks{NAK, NAK, CR} << ChunkOutcome::ErrorReply;
        // Opened by NAK but no NAK second: data.
        QTest::newRow("NAK ACK CR is data") << Chunks{NAK, ACK, CR} << ChunkOutcome::RecordStored;
        QTest::newRow("NAK CR is data") << Chunks{NAK, CR} << ChunkOutcome::RecordStored;
        QTest::newRow("STX inside a frame is content")
            << Chunks{STX, "1", STX, "2", CR} << ChunkOutcome::RecordStored;
    }

    void classifiesClosedFrames()
    {
        QFETCH(Chunks, chunks);
        QFETCH(ChunkOutcome, outcome);

        LinkState link;
        QCOMPARE(Feed(link, chunks), outcome);
        QCOMPARE(link.RxFlag, std::int16_t(0));
        QVERIFY(link.RxBuffer.empty());
        if (outcome == ChunkOutcome::RecordStored) {
            QCOMPARE(link.RxCount, std::int16_t(1));
            QCOMPARE(link.RxRecords[0], Str(chunks.join()));
        } else {
            QCOMPARE(link.RxCount, std::int16_t(0));
            QVERIFY(link.RxRecords[0].empty());
        }
    }

    void framingNeedsSingleCharacterChunks()
    {
        LinkState link;
        // STX and a digit in one chunk while idle open nothing.
        QCOMPARE(Feed(link, {STX + "1", "2", CR}), ChunkOutcome::Nothing);
        QCOMPARE(link.RxFlag, std::int16_t(0));

        // While receiving, a longer chunk that ends in CR is content, not the end.
        Feed(link, {STX, "12" + CR});
        QCOMPARE(link.RxFlag, std::int16_t(1));
        QCOMPARE(Feed(link, {CR}), ChunkOutcome::RecordStored);
        QCOMPARE(link.RxRecords[0], Str(STX + "12" + CR + CR));
    }

    void emptyChunkChangesNothing()
    {
        LinkState link;
        QCOMPARE(Feed(link, {""}), ChunkOutcome::Nothing);
        QCOMPARE(link.RxFlag, std::int16_t(0));

        Feed(link, {STX, "7"});
        const std::string open = link.RxBuffer;
        QCOMPARE(Feed(link, {""}), ChunkOutcome::Nothing);
        QCOMPARE(link.RxFlag, std::int16_t(1));
        QCOMPARE(link.RxBuffer, open);
    }

    void noiseWhileIdleIsDiscarded()
    {
        LinkState link;
        QCOMPARE(Feed(link, OneByOne("xyz\r\r")), ChunkOutcome::Nothing);
        QCOMPARE(link.RxCount, std::int16_t(0));
        QCOMPARE(Feed(link, {STX, "5", CR}), ChunkOutcome::RecordStored);
        QCOMPARE(link.RxRecords[0], Str(STX + "5" + CR));
    }

    void resetAbandonsOpenFrameAndEmptiesStore()
    {
        LinkState link;
        Feed(link, {STX, "a", CR, STX, "b", CR, STX, "half"});
        QCOMPARE(link.RxCount, std::int16_t(2));
        link.ResetReception();
        QCOMPARE(link.RxCount, std::int16_t(0));
        QCOMPARE(link.RxFlag, std::int16_t(0));
        for (const std::string& record : link.RxRecords)
            QVERIFY(record.empty());
        // The rest of the abandoned frame arrives while idle and is discarded ...
        QCOMPARE(Feed(link, {"f", CR}), ChunkOutcome::Nothing);
        // ... but a start character on its own opens a new frame at index 0.
        QCOMPARE(Feed(link, {NAK, CR}), ChunkOutcome::RecordStored);
        QCOMPARE(link.RxRecords[0], Str(NAK + CR));
    }

    void recordsAreStoredInArrivalOrder()
    {
        LinkState link;
        for (int i = 0; i < 5; ++i)
            Feed(link, {STX, QByteArray::number(i), CR});
        Feed(link, {ACK, CR});      // accepted: not stored
        Feed(link, {STX, NAK, CR}); // error: not stored
        QCOMPARE(link.RxCount, std::int16_t(5));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(link.RxRecords[std::size_t(i)], Str(STX + QByteArray::number(i) + CR));
        QVERIFY(link.RxRecords[5].empty());
    }

    void fullStoreDropsFurtherRecords()
    {
        LinkState link;
        for (int i = 0; i < LinkState::StoreSize; ++i)
            QCOMPARE(Feed(link, {STX, "r", CR}), ChunkOutcome::RecordStored);
        QCOMPARE(link.RxCount, std::int16_t(201));

        QCOMPARE(Feed(link, {STX, "late", CR}), ChunkOutcome::RecordDropped);
        QCOMPARE(Feed(link, {STX, "later", CR}), ChunkOutcome::RecordDropped);
        QCOMPARE(link.RxCount, std::int16_t(201));
        QCOMPARE(link.RxDropped, std::int64_t(2));
        QCOMPARE(link.RxRecords[200], Str(STX + "r" + CR));
        // Replies that are not data are still recognised with a full store.
        QCOMPARE(Feed(link, {ACK, CR}), ChunkOutcome::CommandAccepted);

        link.ResetReception();
        QCOMPARE(link.RxDropped, std::int64_t(0));
        QCOMPARE(Feed(link, {STX, "x", CR}), ChunkOutcome::RecordStored);
    }

    void endlessFrameIsAbandonedAtTheBound()
    {
        const std::size_t bound = LinkState::MaxFrameLength;
        LinkState link;
        Feed(link, {STX});
        for (std::size_t i = 1; i < bound; ++i)
            QCOMPARE(link.Receive("x"), ChunkOutcome::Nothing);
        QCOMPARE(link.RxBuffer.size(), bound);
        QCOMPARE(link.RxFlag, std::int16_t(1));

        QCOMPARE(link.Receive("x"), ChunkOutcome::FrameAbandoned);
        QCOMPARE(link.RxFlag, std::int16_t(0));
        QVERIFY(link.RxBuffer.empty());
        QCOMPARE(link.RxCount, std::int16_t(0));

        // The next frame is received normally.
        QCOMPARE(Feed(link, {STX, "ok", CR}), ChunkOutcome::RecordStored);
    }

    void frameAtTheBoundStillCloses()
    {
        LinkState link;
        Feed(link, {STX});
        for (std::size_t i = 1; i < LinkState::MaxFrameLength; ++i)
            link.Receive("y");
        QCOMPARE(link.Receive("\r"), ChunkOutcome::RecordStored);
        QCOMPARE(link.RxRecords[0].size(), LinkState::MaxFrameLength + 1);
    }

    void oneLongChunkCannotPassTheBound()
    {
        LinkState link;
        Feed(link, {STX});
        const std::string flood(LinkState::MaxFrameLength * 4, 'z');
        QCOMPARE(link.Receive(flood), ChunkOutcome::FrameAbandoned);
        QVERIFY(link.RxBuffer.empty());
    }

    void commandFramesOnTheWire_data()
    {
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<QByteArray>("wire");
        QTest::newRow("RDD ALL") << QByteArray("RDD") << QByteArray("ALL")
                                 << QByteArray::fromHex("025244442041 4C4C030D");
        QTest::newRow("RDD NOW") << QByteArray("RDD") << QByteArray("NOW")
                                 << QByteArray::fromHex("0252444420 4E4F57030D");
        QTest::newRow("CLR ALL") << QByteArray("CLR") << QByteArray("ALL")
                                 << QByteArray::fromHex("02434C5220414C4C030D");
    }

    void commandFramesOnTheWire()
    {
        QFETCH(QByteArray, verb);
        QFETCH(QByteArray, argument);
        QFETCH(QByteArray, wire);
        QCOMPARE(wire.size(), 10);
        const std::string frame = ComposeCommand(Str(verb), Str(argument));
        QCOMPARE(QByteArray(frame.data(), qsizetype(frame.size())), wire);
    }
};

QM6200_TEST_APPLESS_MAIN(TestLinkState)
#include "tst_linkstate.moc"
