#include "shell/frmWatch.h"

#include "files/Names.h"
#include "files/SafeWrite.h"
#include "journal/JournalReader.h"
#include "journal/JournalWriter.h"
#include "line/Line.h"
#include "ports/PortMemory.h"
#include "ports/PortNames.h"
#include "ports/SimulatorPorts.h"
#include "protocol/CommandFrame.h"
#include "records/RecordLayout.h"
#include "shell/SaveMessages.h"
#include "ui/ControlNames.h"
#include "ui/DesignWindow.h"
#include "ui/WatchChart.h"
#include "ui/frmPORT.h"
#include "watch/Watch.h"
#include "watch/WatchCsv.h"
#include "watch/WatchTime.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace qm {

namespace {

// The latest readings' columns: the port, the time, the counters and the total, the note.
constexpr int PortColumn = 0;
constexpr int TimeColumn = 1;
constexpr int FirstValueColumn = 2;
constexpr int NoteColumn = FirstValueColumn + ChartSeriesCount;

// The series list's entries carry which instrument and series they stand for; an
// instrument's own entry has no series.
constexpr int InstrumentRole = Qt::UserRole;
constexpr int SeriesRole = Qt::UserRole + 1;

// The CSV goes nowhere while the watch runs: the journal keeps every reading, and "Save as
// CSV" writes them from there, as "qm6200-acquire history N" does.
class NoOutput : public WatchOutput {
public:
    Result<> Open(const JournalWatch&, const QDateTime&, int) override { return {}; }
    Result<> Write(const JournalWatch&, JournalReading&) override { return {}; }
    Result<> Sync() override { return {}; }
};

QString PortNameOf(const PortSelection& selection)
{
    return selection.PortDevice.isEmpty() ? PortEntryName(selection.PortNumber - 1)
                                          : selection.PortDevice;
}

// The device a port name comes to, links followed, to tell one port under two names.
QString DeviceOf(const QString& portName)
{
    const QString location = SystemLocation(portName);
    const QString target = QFileInfo(location).canonicalFilePath();
    return target.isEmpty() ? location : target;
}

// A small picture of how a series is drawn, for its entry in the list.
QIcon SeriesIcon(int instrument, int series)
{
    QPixmap picture(24, 12);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(WatchChart::SeriesPen(instrument, series));
    painter.drawLine(QPointF(1, 6), QPointF(23, 6));
    return QIcon(picture);
}

} // namespace

frmWatch::frmWatch(Line& mainLine, JournalWriter& journal, const QString& journalPath,
                   CommonDialog& save, MessageFunction message, QWidget* parent,
                   const SystemRoots& system)
    : SideWindow(parent)
    , m_mainLine(mainLine)
    , m_journal(journal)
    , m_journalPath(journalPath)
    , m_save(save)
    , m_message(std::move(message))
    , m_system(system)
{
    setWindowTitle(tr("Watch"));
    setFont(DesignFont("Arial", 9));

    // Access keys: none of the main menu's (P, A, Z, H, C, W), which work here too.
    lblPorts = new QLabel(tr("P&orts watched"), this);
    lstPorts = new QListWidget(this);
    lstPorts->setAccessibleName(tr("Ports watched"));
    cmdAddPort = new QPushButton(tr("A&dd port..."), this);
    cmdRemovePort = new QPushButton(tr("&Remove"), this);
    lblEvery = new QLabel(tr("&Every"), this);
    txtEvery = new QSpinBox(this);
    txtEvery->setRange(1, 999);
    txtEvery->setAccessibleName(tr("Interval"));
    cboUnit = new QComboBox(this);
    cboUnit->addItems({tr("seconds"), tr("minutes"), tr("hours")});
    cboUnit->setAccessibleName(tr("Unit of the interval"));
    cmdStart = new QPushButton(tr("&Start"), this);
    cmdStop = new QPushButton(tr("S&top"), this);
    lblStatus = new QLabel(this);
    lblStatus->setWordWrap(true);
    lblLatest = new QLabel(tr("&Latest readings"), this);
    grdLatest = new QTableWidget(0, NoteColumn + 1, this);
    QStringList headers{tr("Port"), tr("Time")};
    for (int series = 0; series < ChartSeriesCount; ++series)
        headers << QString::fromLatin1(RecordHeaders[std::size_t(series + 1)]);
    headers << tr("Note");
    grdLatest->setHorizontalHeaderLabels(headers);
    grdLatest->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdLatest->setSelectionBehavior(QAbstractItemView::SelectRows);
    grdLatest->setSelectionMode(QAbstractItemView::SingleSelection);
    grdLatest->setWordWrap(false);
    grdLatest->verticalHeader()->hide();
    grdLatest->horizontalHeader()->setStretchLastSection(true);
    grdLatest->setAccessibleName(tr("Latest readings"));
    chtWatch = new WatchChart(m_chartData, this);
    chtWatch->setAccessibleName(tr("Chart of the readings"));
    lblSeries = new QLabel(tr("Ser&ies"), this);
    trvSeries = new QTreeWidget(this);
    trvSeries->setHeaderHidden(true);
    trvSeries->setAccessibleName(tr("Series shown"));
    auto* fraShow = new QGroupBox(tr("Show"), this);
    optValues = new QRadioButton(tr("Val&ues"), fraShow);
    optChanges = new QRadioButton(tr("Change per i&nterval"), fraShow);
    optValues->setChecked(true);
    cmdSave = new QPushButton(tr("Sa&ve as CSV"), this);
    for (QPushButton* button : {cmdAddPort, cmdRemovePort, cmdStart, cmdStop, cmdSave})
        button->setAutoDefault(true); // Enter presses it, as Space does
    lblPorts->setBuddy(lstPorts);
    lblEvery->setBuddy(txtEvery);
    lblLatest->setBuddy(grdLatest);
    lblSeries->setBuddy(trvSeries);
    NameControls({{lblPorts, "lblPorts"},
                  {lstPorts, "lstPorts"},
                  {cmdAddPort, "cmdAddPort"},
                  {cmdRemovePort, "cmdRemovePort"},
                  {lblEvery, "lblEvery"},
                  {txtEvery, "txtEvery"},
                  {cboUnit, "cboUnit"},
                  {cmdStart, "cmdStart"},
                  {cmdStop, "cmdStop"},
                  {lblStatus, "lblWatchStatus"},
                  {lblLatest, "lblLatest"},
                  {grdLatest, "grdLatest"},
                  {chtWatch, "chtWatch"},
                  {lblSeries, "lblSeries"},
                  {trvSeries, "trvSeries"},
                  {fraShow, "fraShow"},
                  {optValues, "optValues"},
                  {optChanges, "optChanges"},
                  {cmdSave, "cmdSave"}});

    auto* portButtons = new QVBoxLayout;
    portButtons->addWidget(cmdAddPort);
    portButtons->addWidget(cmdRemovePort);
    portButtons->addStretch(1);
    auto* run = new QHBoxLayout;
    run->addWidget(lblEvery);
    run->addWidget(txtEvery);
    run->addWidget(cboUnit);
    run->addSpacing(12);
    run->addWidget(cmdStart);
    run->addWidget(cmdStop);
    run->addStretch(1);
    auto* ports = new QGridLayout;
    ports->addWidget(lblPorts, 0, 0);
    ports->addWidget(lstPorts, 1, 0);
    ports->addLayout(portButtons, 1, 1);
    ports->addLayout(run, 2, 0, 1, 2);
    ports->addWidget(lblStatus, 3, 0, 1, 2);
    lstPorts->setMaximumHeight(lstPorts->fontMetrics().height() * 5);

    auto* show = new QVBoxLayout(fraShow);
    show->addWidget(optValues);
    show->addWidget(optChanges);
    auto* side = new QVBoxLayout;
    side->addWidget(lblSeries);
    side->addWidget(trvSeries, 1);
    side->addWidget(fraShow);
    auto* charted = new QHBoxLayout;
    charted->addWidget(chtWatch, 1);
    charted->addLayout(side);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(ports);
    layout->addWidget(lblLatest);
    layout->addWidget(grdLatest);
    layout->addLayout(charted, 1);
    layout->addWidget(cmdSave, 0, Qt::AlignRight);
    grdLatest->setMaximumHeight(grdLatest->horizontalHeader()->sizeHint().height()
                                + 5 * (grdLatest->fontMetrics().height() + 8));

    connect(cmdAddPort, &QPushButton::clicked, this, &frmWatch::cmdAddPort_Click);
    connect(cmdRemovePort, &QPushButton::clicked, this, &frmWatch::cmdRemovePort_Click);
    connect(cmdStart, &QPushButton::clicked, this, &frmWatch::cmdStart_Click);
    connect(cmdStop, &QPushButton::clicked, this, &frmWatch::cmdStop_Click);
    connect(cmdSave, &QPushButton::clicked, this, &frmWatch::cmdSave_Click);
    connect(lstPorts, &QListWidget::currentRowChanged, this, &frmWatch::UpdateControls);
    connect(trvSeries, &QTreeWidget::itemChanged, this, &frmWatch::SeriesChanged);
    connect(optChanges, &QRadioButton::toggled, this, [this](bool changes) {
        chtWatch->SetMode(changes ? WatchChartMode::Changes : WatchChartMode::Values);
    });
    UpdateControls();
    ShowStatus();
}

frmWatch::~frmWatch()
{
    // The watch goes before the lines it reads.
    m_watch.reset();
    for (Watched& port : m_ports) {
        if (port.own)
            port.own->Unload();
    }
}

QSize frmWatch::sizeHint() const
{
    return QSize(960, 700);
}

QStringList frmWatch::Ports() const
{
    QStringList names;
    for (const Watched& port : m_ports)
        names << port.name;
    return names;
}

void frmWatch::SetEvery(int amount, Unit unit)
{
    txtEvery->setValue(amount);
    cboUnit->setCurrentIndex(int(unit));
}

bool frmWatch::Running() const
{
    return m_watch && m_watch->Running();
}

std::chrono::milliseconds frmWatch::Every() const
{
    static constexpr std::array<int, 3> unitSeconds{1, 60, 3600};
    return std::chrono::seconds(qint64(txtEvery->value())
                                * unitSeconds[std::size_t(std::max(0, cboUnit->currentIndex()))]);
}

void frmWatch::cmdAddPort_Click()
{
    frmPORT dialog(
        m_mainLine.Owner().InUse(),
        [this](const PortSelection& selection) { return AddPort(selection); },
        [this](const QString& text) { m_message(text); }, this, m_system);
    dialog.CloseOnlyOnReject();
    dialog.setWindowTitle(tr("Add a port to the watch"));
    dialog.exec();
}

Result<> frmWatch::AddPort(const PortSelection& selection)
{
    if (Running())
        return Failure{tr("Ports are added while no watch runs: press Stop first.")};
    const QString name = PortNameOf(selection);
    const QString device = DeviceOf(name);
    for (const Watched& port : m_ports) {
        if (port.name == name || DeviceOf(port.name) == device)
            return Failure{tr("%1 is watched already.").arg(ShownText(name))};
    }
    Watched added;
    added.name = name;
    // The main window's own port is read on its line: a second line could not open it, and
    // the two users' commands queue there.
    if (m_mainLine.Control().PortOpen() && DeviceOf(m_mainLine.Control().PortName()) == device) {
        added.line = &m_mainLine;
    } else {
        added.own = std::make_unique<Line>(m_mainLine.Control().backend().Another(), m_system);
        added.own->Owner().Prepare();
        if (const Result<> opened = added.own->Owner().TryOpen(selection); !opened)
            return opened;
        // Lost, it is waited for by who it is, as the main window waits for its own.
        added.own->Remember(RememberPort(name, SystemLocation(name), FindSerialPorts(m_system),
                                         RunningSimulators()));
        added.line = added.own.get();
    }
    m_ports.push_back(std::move(added));
    auto* item = new QListWidgetItem(ShownText(name), lstPorts);
    if (m_ports.back().line == &m_mainLine)
        item->setToolTip(tr("The main window's port: its commands and the readings take turns."));
    lstPorts->setCurrentItem(item);
    UpdateControls();
    ShowStatus();
    return {};
}

void frmWatch::cmdRemovePort_Click()
{
    const int row = lstPorts->currentRow();
    if (Running() || row < 0 || row >= int(m_ports.size()))
        return;
    if (m_ports[std::size_t(row)].own)
        m_ports[std::size_t(row)].own->Unload();
    m_ports.erase(m_ports.begin() + row);
    delete lstPorts->takeItem(row);
    UpdateControls();
    ShowStatus();
}

void frmWatch::cmdStart_Click()
{
    if (Running() || m_ports.empty())
        return;
    // A port lost for good since it was added cannot be read.
    for (const Watched& port : m_ports) {
        if (!port.line->Control().PortOpen() && !port.line->WaitingForReturn()) {
            m_message(tr("%1 is no longer open: remove it, add it again, then press Start.")
                          .arg(ShownText(port.name)));
            return;
        }
    }
    Watch::Settings settings;
    JournalWatch& watch = settings.watch;
    watch.program = QStringLiteral("qm6200-datalink");
    watch.version = QStringLiteral(QM6200_VERSION);
    const std::string command = ComposeCommand(VerbRead, ArgumentNow);
    watch.frame = QByteArray(command.data(), qsizetype(command.size()));
    watch.every = Every();
    watch.ports = Ports();
    watch.decimalSeparator = QLocale().decimalPoint().toStdString();
    settings.intervals = Watch::DefaultIntervals();

    std::vector<Line*> lines;
    for (const Watched& port : m_ports)
        lines.push_back(port.line);
    m_watch = std::make_unique<Watch>(lines, settings, std::make_unique<NoOutput>());
    m_watch->JournalTo(&m_journal);
    connect(m_watch.get(), &Watch::ReadingWritten, this, &frmWatch::ShowReading);
    connect(m_watch.get(), &Watch::Finished, this, &frmWatch::WatchFinished);
    m_watchedNames = watch.ports;
    m_mainLineReleased = false;
    std::vector<std::string> names;
    for (const QString& name : m_watchedNames)
        names.push_back(ShownText(name).toStdString());
    m_chartData.SetInstruments(std::move(names));
    chtWatch->DataChanged();
    FillSeries();
    m_pendingRows.clear();
    grdLatest->setRowCount(int(m_watchedNames.size()));
    for (int row = 0; row < grdLatest->rowCount(); ++row) {
        for (int column = 0; column < grdLatest->columnCount(); ++column)
            grdLatest->setItem(row, column, new QTableWidgetItem);
        grdLatest->item(row, PortColumn)->setText(ShownText(m_watchedNames[row]));
    }
    // Each column as wide as the widest text it will hold, measured once: a reading a second
    // for each port must not lay the table out again.
    const QFontMetrics metrics(grdLatest->font());
    const int padding = 2 * metrics.horizontalAdvance(QLatin1Char('M'));
    const auto fit = [&](int column, const QString& widest) {
        const QString header = grdLatest->horizontalHeaderItem(column)->text();
        grdLatest->setColumnWidth(
            column, std::max(metrics.horizontalAdvance(widest), metrics.horizontalAdvance(header))
                        + padding);
    };
    QString widestPort;
    for (const QString& name : m_watchedNames)
        if (ShownText(name).size() > widestPort.size())
            widestPort = ShownText(name);
    fit(PortColumn, widestPort);
    fit(TimeColumn, LocalTimeText(QDateTime::currentDateTimeUtc()));
    for (int column = FirstValueColumn; column < NoteColumn; ++column)
        fit(column, QStringLiteral("0000000.00"));
    if (!m_watch->Start()) {
        m_message(m_watch->Problem());
        m_watch.reset();
    }
    UpdateControls();
    ShowStatus();
    if (m_watch)
        emit Started();
}

void frmWatch::cmdStop_Click()
{
    if (Running())
        m_watch->Stop();
    UpdateControls();
    ShowStatus();
}

void frmWatch::MainPortChoosing()
{
    bool shared = false;
    for (const Watched& port : m_ports)
        shared = shared || port.line == &m_mainLine;
    if (!shared)
        return;
    if (Running()) {
        m_watch->Release(&m_mainLine);
        m_mainLineReleased = true;
    }
    // Whatever the main window opens next is its own choice, not a port added here.
    for (int row = int(m_ports.size()) - 1; row >= 0; --row) {
        if (m_ports[std::size_t(row)].line == &m_mainLine) {
            m_ports.erase(m_ports.begin() + row);
            delete lstPorts->takeItem(row);
        }
    }
    UpdateControls();
    ShowStatus();
}

void frmWatch::ShowReading(const JournalReading& reading)
{
    const int row = reading.port;
    if (row < 0 || row >= grdLatest->rowCount())
        return;
    const std::string& separator = m_watch->Described().decimalSeparator;
    std::optional<DecodedRecord> record;
    ReadingNote note = reading.note;
    if (note == ReadingNote::None) {
        record = ReadingRecord(reading.reply, separator);
        // As the CSV has it: a reply with no record is no answer.
        if (!record)
            note = ReadingNote::NoAnswer;
    }
    // The row's texts now; the table and the status are brought to the screen with the next
    // refresh, once for the readings that come together.
    QStringList& texts = m_pendingRows[row];
    texts = QStringList{LocalTimeText(reading.time)};
    const std::optional<JournalCells> cells =
        record ? std::optional<JournalCells>(CsvCells(*record)) : std::nullopt;
    for (int series = 0; series < ChartSeriesCount; ++series)
        texts << (cells ? QString::fromStdString((*cells)[std::size_t(series + 1)]) : QString());
    texts << ReadingNoteText(note, reading.tornBefore);
    m_shownRefresh.Changed();

    m_chartData.Add(row, WatchPointOf(reading.time.toMSecsSinceEpoch(), reading.offsetSeconds,
                                      record ? &*record : nullptr, note != ReadingNote::None));
    chtWatch->DataChanged();
    emit ReadingTaken();
}

void frmWatch::ShowPending()
{
    for (const auto& [row, texts] : m_pendingRows) {
        for (int column = TimeColumn; column <= NoteColumn; ++column) {
            QTableWidgetItem* item = grdLatest->item(row, column);
            const QString& text = texts[column - TimeColumn];
            if (item && item->text() != text)
                item->setText(text);
        }
    }
    m_pendingRows.clear();
    ShowStatus();
    UpdateControls();
}

void frmWatch::WatchFinished()
{
    m_shownRefresh.Now();
    UpdateControls();
    ShowStatus();
    emit Finished();
}

void frmWatch::UpdateControls()
{
    const bool running = Running();
    cmdAddPort->setEnabled(!running);
    cmdRemovePort->setEnabled(!running && lstPorts->currentRow() >= 0);
    txtEvery->setEnabled(!running);
    cboUnit->setEnabled(!running);
    cmdStart->setEnabled(!running && !m_ports.empty());
    cmdStop->setEnabled(running);
    cmdSave->setEnabled(m_watch && m_watch->Readings() > 0);
}

void frmWatch::ShowStatus()
{
    QString text;
    if (!m_watch) {
        text = m_ports.empty()
                   ? tr("Add the ports to watch, choose the interval, then press Start.")
                   : tr("Choose the interval, then press Start.");
    } else {
        const QString counts = tr("%n readings", nullptr, int(m_watch->Readings()))
                               + tr(", %n with a note", nullptr, int(m_watch->Noted()));
        const QString ports = tr("%n ports", nullptr, int(m_watchedNames.size()));
        const double every = double(m_watch->Described().every.count()) / 1000;
        if (Running())
            text = tr("Watching %1 every %2 s: %3.").arg(ports).arg(every).arg(counts);
        else
            text = tr("Stopped: %1 of %2. The History window lists the watch.").arg(counts, ports);
        if (m_mainLineReleased)
            text += QLatin1Char(' ')
                    + tr("The main window chose its port again: that port is no longer read.");
    }
    lblStatus->setText(text);
}

void frmWatch::FillSeries()
{
    const QSignalBlocker quiet(trvSeries);
    trvSeries->clear();
    for (int instrument = 0; instrument < m_chartData.Instruments(); ++instrument) {
        auto* top =
            new QTreeWidgetItem(trvSeries, {QString::fromStdString(m_chartData.Name(instrument))});
        top->setFlags(top->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsAutoTristate);
        top->setData(0, InstrumentRole, instrument);
        top->setData(0, SeriesRole, -1);
        for (int series = 0; series < ChartSeriesCount; ++series) {
            auto* entry = new QTreeWidgetItem(
                top, {QString::fromLatin1(RecordHeaders[std::size_t(series + 1)])});
            entry->setFlags(entry->flags() | Qt::ItemIsUserCheckable);
            entry->setCheckState(0, chtWatch->SeriesShown(instrument, series) ? Qt::Checked
                                                                              : Qt::Unchecked);
            entry->setIcon(0, SeriesIcon(instrument, series));
            entry->setData(0, InstrumentRole, instrument);
            entry->setData(0, SeriesRole, series);
        }
        top->setExpanded(m_chartData.Instruments() <= 3);
    }
}

void frmWatch::SeriesChanged(QTreeWidgetItem* item)
{
    const int series = item->data(0, SeriesRole).toInt();
    if (series < 0)
        return; // an instrument's entry: its series' entries follow it, and tell
    chtWatch->SetSeriesShown(item->data(0, InstrumentRole).toInt(), series,
                             item->checkState(0) == Qt::Checked);
}

void frmWatch::cmdSave_Click()
{
    if (!m_watch || m_watch->Readings() == 0)
        return;
    // Every reading journaled so far, found by the instant the watch started.
    m_journal.WaitUntilWritten();
    JournalReader reader(m_journalPath);
    if (const Result<> opened = reader.open(); !opened)
        return m_message(opened.Reason());
    const JournalWatch& described = m_watch->Described();
    std::optional<JournalWatchEntry> entry;
    for (JournalWatchEntry& listed : reader.Watches()) {
        if (listed.watch.started == described.started && listed.watch.program == described.program
            && listed.watch.ports == described.ports) {
            entry = std::move(listed);
            break;
        }
    }
    if (!entry || entry->number == 0)
        return m_message(tr("The journal holds none of this watch's readings, so there is "
                            "nothing to save. The main window tells why the journal cannot "
                            "keep them."));
    m_save.setFileName(ProposedCsvName(entry->first, "watch", entry->number, m_save.Folder()));
    if (!m_save.ShowSave())
        return;
    const QString path = m_save.FileName();
    if (path.isEmpty())
        return;
    const Result<std::string> csv = WatchCsvOf(reader, *entry);
    if (!csv)
        return m_message(csv.Reason());
    const SaveResult saved = WriteWholeFile(path, *csv);
    if (!saved)
        m_message(SaveFailureText(tr("the readings of watch %1").arg(entry->number), path,
                                  saved.Error()));
}

void frmWatch::closeEvent(QCloseEvent* event)
{
    // The readings under way end on their lines and are journaled; none is sent after. The
    // window stays, hidden, with the watch's readings, until it is shown again.
    if (Running())
        m_watch->Stop();
    SideWindow::closeEvent(event);
}

} // namespace qm
