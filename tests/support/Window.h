#pragma once

// The main window as the tests, the benchmark and the fuzz targets set it up: loaded
// without the splash screen, its messages collected, its save dialog scripted, its
// controls found by their design names.

#include "link/AnswerWatch.h"
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

// The main window's controls.
struct MainControls {
    explicit MainControls(const frmMain& form)
        : Title1(Find<QLabel>(form, "Title1"))
        , Command1(Find<QPushButton>(form, "Command1"))
        , Command4(Find<QPushButton>(form, "Command4"))
        , Command2(Find<QPushButton>(form, "Command2"))
        , Label1(Find<QLabel>(form, "Label1"))
        , cmdFormat(Find<TextBox>(form, "cmdFormat"))
        , Label2(Find<QLabel>(form, "Label2"))
        , txtRx(Find<TextBox>(form, "txtRx"))
        , Label5(Find<QLabel>(form, "Label5"))
        , Frame3(Find<QGroupBox>(form, "Frame3"))
        , QmtData(Find<qm::QmtData>(form, "QmtData"))
        , Command3(Find<QPushButton>(form, "Command3"))
        , CsvOut(Find<QPushButton>(form, "CsvOut"))
        , lblNotInTable(Find<QLabel>(form, "lblNotInTable"))
        , QmtTxRx(Find<qm::QmtTxRx>(form, "QmtTxRx"))
        , menuPort(Find<QAction>(form, "menuPort"))
        , MenuAbout(Find<QAction>(form, "MenuAbout"))
        , menuFin(Find<QAction>(form, "menuFin"))
        , menuHistory(Find<QAction>(form, "menuHistory"))
        , answerWatch(Find<AnswerWatch>(form, "answerWatch"))
    {
    }

    QLabel* Title1;
    QPushButton* Command1;
    QPushButton* Command4;
    QPushButton* Command2;
    QLabel* Label1;
    TextBox* cmdFormat;
    QLabel* Label2;
    TextBox* txtRx;
    QLabel* Label5;
    QGroupBox* Frame3;
    qm::QmtData* QmtData;
    QPushButton* Command3;
    QPushButton* CsvOut;
    QLabel* lblNotInTable;
    qm::QmtTxRx* QmtTxRx;
    QAction* menuPort;
    QAction* MenuAbout;
    QAction* menuFin;
    QAction* menuHistory;
    AnswerWatch* answerWatch;
};

// The main window, loaded, on the port given (an in-memory one unless another is), with
// the port closed as the load leaves it. Messages are collected, not shown.
struct MainWindow {
    // The serial ports are looked for in `system` (a made-up tree, say).
    explicit MainWindow(
        std::unique_ptr<CommBackend> port = std::make_unique<MemoryBackend>(),
        std::function<void()> splash = [] {}, const SystemRoots& system = {})
        : backend(dynamic_cast<MemoryBackend*>(port.get()))
        , form(link, std::move(port), MakeDialogs(std::move(splash)), nullptr, system)
    {
        form.Form_Load();
    }

    LinkState link;
    QStringList messages;
    ScriptedDialog* saveDialog = new ScriptedDialog;  // the window owns it
    ScriptedDialog* imageDialog = new ScriptedDialog; // the chart's, owned likewise
    MemoryBackend* backend;                           // the in-memory port, if that is the port
    frmMain form;
    MainControls ui{form};

    // The port open, as the port dialog leaves it when it closes.
    bool openPort() { return ui.QmtTxRx->setPortOpen(true); }

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
        form.menuPort_Click();
        return ui.QmtTxRx->PortOpen();
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
        for (int c = 0; c < ui.QmtData->Cols(); ++c)
            cells << ui.QmtData->TextMatrix(r, c);
        return cells;
    }
    bool rowBlank(int r) const { return row(r).join(QString()).isEmpty(); }

    bool commandsEnabled() const
    {
        return ui.Command1->isEnabled() && ui.Command4->isEnabled() && ui.Command2->isEnabled();
    }

private:
    frmMain::Dialogs MakeDialogs(std::function<void()> splash)
    {
        frmMain::Dialogs dialogs;
        dialogs.message = [this](const QString& text) {
            messages << text;
        };
        dialogs.splash = std::move(splash);
        dialogs.save.reset(saveDialog);
        dialogs.saveImage.reset(imageDialog);
        return dialogs;
    }
};

} // namespace qm::test
