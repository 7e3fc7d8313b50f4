#pragma once

// The main window as the tests, the benchmark and the fuzz targets set it up: loaded
// without the splash screen, its messages collected, its save dialog scripted, its
// controls found by their design names and named by their roles.

#include "records/RecordLayout.h"
#include "shell/frmMain.h"
#include "tests/support/Dialogs.h"
#include "tests/support/Frames.h"
#include "tests/support/MemoryBackend.h"
#include "ui/QmtData.h"
#include "ui/RecordTable.h"
#include "ui/TextBox.h"
#include "ui/frmPORT.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace qm::test {

// A window's control by its design name; a missing one ends the run, as every use of it
// would fail.
template<typename Control>
Control* Find(const QObject& window, const char* name)
{
    auto* control = window.findChild<Control*>(QLatin1String(name));
    if (!control) {
        std::fprintf(stderr, "no control named %s\n", name);
        std::abort();
    }
    return control;
}

// The main window's controls, found by their design names; and the serial control, which
// the window's line owns.
struct MainControls : frmMainControls {
    explicit MainControls(const frmMain& form)
        : serialControl(Find<qm::QmtTxRx>(form, "QmtTxRx"))
    {
        ForEachControl([&form]<typename Control>(Control*& control, const char* name) {
            control = Find<Control>(form, name);
        });
    }

    qm::QmtTxRx* serialControl;
};

// The main window, loaded, on the port given (an in-memory one unless another is), with
// the port closed as the load leaves it. Messages are collected, not shown.
struct MainWindow {
    // The serial ports are looked for in `system` (a made-up tree, say).
    explicit MainWindow(
        std::unique_ptr<CommBackend> port = std::make_unique<MemoryBackend>(),
        std::function<void()> splash = [] {}, const SystemRoots& system = {})
        : backend(dynamic_cast<MemoryBackend*>(port.get()))
        , form(std::move(port), MakeDialogs(std::move(splash)), nullptr, system)
    {
        form.Load();
    }

    QStringList messages;   // the port's loss among them
    bool lostShown = false; // the message that the port was lost is still up
    QStringList questions;
    bool answerYes = true;                            // to every question
    ScriptedDialog* saveDialog = new ScriptedDialog;  // the window owns it
    ScriptedDialog* imageDialog = new ScriptedDialog; // the chart's, owned likewise
    MemoryBackend* backend;                           // the in-memory port, if that is the port
    frmMain form;
    MainControls ui{form};

    // The port open, as the port dialog leaves it when it closes.
    bool openPort() { return ui.serialControl->setPortOpen(true).Ok(); }

    // What the last command's answer brought to its store; an empty store before any.
    const LinkState& store() const
    {
        static const LinkState none;
        return form.LastExchange() ? form.LastExchange()->Store() : none;
    }
    // The last command's bytes; none before any.
    std::string TxCommand() const
    {
        return form.LastExchange() ? form.LastExchange()->Command() : std::string();
    }

    // "CommPort Select", `port` typed into the box, "Determine" pressed. When the port will
    // not open, the dialog is left without going back to the port in use before: on this
    // machine that could be a real serial port. True when the port is open afterwards.
    bool choosePort(const QString& port)
    {
        QTimer::singleShot(0, &form, [port] {
            if (auto* dialog = qobject_cast<frmPORT*>(QApplication::activeModalWidget())) {
                Find<QComboBox>(*dialog, "Combo1")->setEditText(port);
                dialog->Command1_Click();
                if (dialog->isVisible())
                    dialog->done(QDialog::Rejected);
            }
        });
        form.ChoosePort();
        return ui.serialControl->PortOpen();
    }

    // Bytes "from the instrument", handled as the event loop delivers them.
    void arrive(const QByteArray& bytes)
    {
        backend->deliver(bytes);
        QCoreApplication::sendPostedEvents();
    }

    QStringList row(int r) const
    {
        QStringList cells;
        for (int c = 0; c < ui.recordTable->Cols(); ++c)
            cells << ui.recordTable->TextMatrix(r, c);
        return cells;
    }
    bool rowBlank(int r) const { return row(r).join(QString()).isEmpty(); }

    bool commandsEnabled() const
    {
        return ui.acquireRecordsButton->isEnabled() && ui.acquirePresentButton->isEnabled()
               && ui.clearAllButton->isEnabled();
    }

private:
    frmMain::Dialogs MakeDialogs(std::function<void()> splash)
    {
        frmMain::Dialogs dialogs;
        dialogs.message = [this](const QString& text) {
            messages << text;
        };
        dialogs.portLost = [this](const QString& text) {
            messages << text;
            lostShown = true;
        };
        dialogs.portBack = [this] {
            lostShown = false;
        };
        dialogs.ask = [this](const QString& question) {
            questions << question;
            return answerYes;
        };
        dialogs.splash = std::move(splash);
        dialogs.save.reset(saveDialog);
        dialogs.saveImage.reset(imageDialog);
        return dialogs;
    }
};

} // namespace qm::test
