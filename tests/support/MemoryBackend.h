#pragma once

#include "serial/CommBackend.h"

#include <functional>

namespace qm {

// A serial device in memory: whatever is delivered to it arrives at the control through
// the event loop, as a real port's bytes do, and everything the control writes is kept.
// The tests and the benchmark drive the program through it.
class MemoryBackend : public CommBackend {
    Q_OBJECT

public:
    using CommBackend::CommBackend;

    Result<> open(const QString& portName, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    void setRequestToSend(bool raised) override { m_rts = raised; }
    Result<> write(const QByteArray& bytes) override;
    qsizetype outputWaiting() const override { return m_held.size(); }
    void discardOutput() override { m_held.clear(); }
    QByteArray readAll() override;
    std::unique_ptr<CommBackend> Another() const override
    {
        return std::make_unique<MemoryBackend>();
    }

    // Bytes "from the instrument": queued now, received when the event loop runs.
    void deliver(const QByteArray& bytes);
    // Bytes received right now, as from inside an event of the loop.
    void arrive(const QByteArray& bytes);

    QByteArray written() const { return m_written; }
    void clearWritten() { m_written.clear(); }
    QString portName() const { return m_portName; }
    LineSettings settings() const { return m_settings; }
    bool requestToSend() const { return m_rts; }
    int openCount() const { return m_openCount; }

    // The device goes away, as an unplugged adapter does: closed, and `lost` is raised.
    void loseDevice(const QString& reason);

    // Makes every later open fail with this reason (empty: opens succeed again).
    void setOpenFailure(const QString& reason) { m_openFailure = reason; }
    // Makes every later write fail with this reason, the port staying open.
    void setWriteFailure(const QString& reason) { m_writeFailure = reason; }
    // Holds what is written back, as a line whose output is stopped does; let go, it goes
    // out (what was not discarded meanwhile).
    void setOutputStopped(bool stopped);
    // Called with each write before it is kept: lets a test look at the program at the
    // very moment a frame goes out.
    std::function<void(const QByteArray&)> onWrite;

private:
    bool m_open = false;
    bool m_rts = false;
    int m_openCount = 0;
    QString m_portName;
    LineSettings m_settings;
    QString m_openFailure;
    QString m_writeFailure;
    QByteArray m_written;
    QByteArray m_held; // written while the output is stopped
    bool m_outputStopped = false;
    QByteArray m_received;
};

} // namespace qm
