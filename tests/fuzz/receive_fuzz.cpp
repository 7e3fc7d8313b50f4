// Fuzz target: an arbitrary byte stream from the instrument, cut into receive events, through
// the real main window (framing, classification, the store, the table and the echo), mixed
// with the commands that reset reception. After every event the link's invariants are
// checked; a broken one aborts, which the fuzzer reports with the input that did it.

#include "tests/support/TemporaryHome.h"
#include "tests/support/Window.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

using namespace qm;
using namespace qm::test;

namespace {

struct Program : MainWindow {
    Program()
    {
        openPort();
        // Runs after the line's own handling of each receive event.
        QObject::connect(ui.serialControl, &QmtTxRx::OnComm, &form, [this] { Check(); });
    }

    void Fail(const char* what) const
    {
        std::fprintf(stderr, "invariant broken: %s (RxCount %d, RxFlag %d, buffer %zu)\n", what,
                     int(store().RxCount), int(store().RxFlag), store().RxBuffer.size());
        std::abort();
    }

    void Check() const
    {
        const LinkState& link = store();
        if (link.RxCount < 0 || link.RxCount > LinkState::StoreSize)
            Fail("RxCount outside 0 to 201");
        for (int i = link.RxCount; i < LinkState::StoreSize; ++i) {
            if (!link.RxRecords[std::size_t(i)].empty())
                Fail("a store entry past RxCount is not empty");
        }
        if (ui.recordTable->OutsideAccesses() != 0)
            Fail("a grid access outside rows 0 to 100 and columns 0 to 6");
        if (link.RxFlag == 0 && !link.RxBuffer.empty())
            Fail("an idle receiver holds characters");
        if (link.RxFlag != 0 && link.RxFlag != 1)
            Fail("RxFlag is neither idle nor open");
        if (link.RxBuffer.size() > LinkState::MaxFrameLength)
            Fail("an open frame is longer than its bound");
    }
};

// The one program every input runs through, made once the application exists.
Program& TheProgram()
{
    static Program program;
    return program;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qm6200.*=false");
    // The window journals what it receives: into a home of the fuzzer's own.
    static const qm::test::TemporaryHome home;
    static QApplication app(*argc, *argv);
    TheProgram();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    Program& program = TheProgram();
    frmMain& form = program.form;
    form.AcquireRecords(); // every input starts from a fresh acquisition
    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 15)) {
        case 0:
            form.AcquireRecords();
            break;
        case 1:
            form.AcquirePresentValue();
            break;
        case 2:
            form.ClearTable();
            break;
        default: {
            const std::string chunk =
                input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(1, 300));
            program.backend->arrive(QByteArray::fromStdString(chunk));
            break;
        }
        }
        program.Check();
    }
    // The exchanges that gave way go, as the event loop would let them.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
