#include "ui/frmPORT.h"

#include "ports/Log.h"
#include "ports/PortNames.h"
#include "ports/SimulatorPorts.h"
#include "ui/ControlNames.h"
#include "ui/DesignWindow.h"
#include "ui/Twips.h"
#include "ui/WindowCentring.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QLineEdit>
#include <QScreen>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

#include <algorithm>
#include <utility>

namespace qm {

namespace {

// The drop-down shows a found port with what it is; the box shows its device alone.
class PortListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString line = index.data(frmPORT::ListTextRole).toString();
        if (!line.isEmpty())
            option->text = line;
    }
};

// The drop-down is as wide as its longest line, so that a found port shows whole beside what it
// is, but no wider than the screen. The box keeps its size.
void FitListToLines(QComboBox& box)
{
    QAbstractItemView* list = box.view();
    const int lines = list->sizeHintForColumn(0) + 2 * list->frameWidth()
                      + list->verticalScrollBar()->sizeHint().width();
    // The list drops down in a frame of its own.
    const QMargins frame = list->window()->contentsMargins();
    const int room = box.screen()->availableGeometry().width() - frame.left() - frame.right();
    list->setMinimumWidth(std::min(lines, room));
}

// The port box. Its text is taken whole when the operator comes to it (a click, Tab) and when
// its list closes, so that what is typed then replaces "COM1" or the port just chosen instead of
// going into its middle. The first click into the text after the list has closed keeps it whole,
// as the click that gives the box the focus does; a click after that, or after a key, places the
// cursor.
class PortBox : public QComboBox {
public:
    explicit PortBox(QWidget* parent)
        : QComboBox(parent)
    {
        setEditable(true);
        installEventFilter(this);
        lineEdit()->installEventFilter(this);
        // An entry chosen from the list comes into the box after the list has closed.
        connect(this, &QComboBox::activated, this, [this] {
            if (m_clickPending)
                lineEdit()->selectAll();
        });
    }

    void showPopup() override
    {
        // The lines and the screen are those of now.
        FitListToLines(*this);
        QComboBox::showPopup();
    }

    void hidePopup() override
    {
        // Also called when the box is hidden, with no list to close.
        const bool listed = view()->isVisible();
        QComboBox::hidePopup();
        if (listed)
            TakeWhole(true);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != this && watched != lineEdit())
            return QComboBox::eventFilter(watched, event);
        switch (event->type()) {
        case QEvent::FocusIn:
            // The box has the focus; its text has it through the box. The focus that comes back
            // from the list is left to hidePopup().
            switch (const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason()) {
            case Qt::MouseFocusReason:
            case Qt::TabFocusReason:
            case Qt::BacktabFocusReason:
            case Qt::ShortcutFocusReason:
                TakeWhole(reason == Qt::MouseFocusReason);
                break;
            case Qt::PopupFocusReason:
                break;
            default:
                m_clickPending = false;
                break;
            }
            break;
        case QEvent::MouseButtonPress:
            // The focus comes before the press that gave it, which would put the cursor where
            // it fell. A press on the arrow opens the list as ever.
            if (std::exchange(m_clickPending, false) && watched == lineEdit())
                return true;
            break;
        case QEvent::FocusOut:
        case QEvent::KeyPress:
        case QEvent::Wheel:
            m_clickPending = false;
            break;
        default:
            break;
        }
        return false;
    }

private:
    // `keptOnClick`: the next press on the text keeps it whole.
    void TakeWhole(bool keptOnClick)
    {
        lineEdit()->selectAll();
        m_clickPending = keptOnClick;
    }

    bool m_clickPending = false;
};

} // namespace

frmPORT::frmPORT(const PortSelection& inUse, TryFunction tryPort, MessageFunction showMessage,
                 QWidget* parent, const SystemRoots& system)
    : QDialog(parent, FixedDialogFlags)
    , m_system(system)
    , m_watch(new PortWatch(system, this))
    , m_inUse(inUse)
    , m_choice(inUse)
    , m_tryPort(std::move(tryPort))
    , m_showMessage(std::move(showMessage))
{
    DesignWindow(*this, QStringLiteral("COM PORT"), 4980, 2490, QColor(192, 192, 192),
                 DesignFont("Lucida Sans Unicode", 9));
    OpenCentred(*this);

    Label1 =
        Place(new QLabel(QStringLiteral("Please choose the communication port to be used"), this),
              480, 360, 2655, 855);
    Label1->setFont(DesignFont("Tahoma", 9.75, true));
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Combo1 = Place(new PortBox(this), 3240, 360, 1215, 300);
    // Typed text selects or names a port; it never becomes an entry of the list.
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    Combo1->setEditText(QStringLiteral("Port Select..."));
    Combo1->setItemDelegate(new PortListDelegate(Combo1));

    Command1 = Place(new QPushButton(QStringLiteral("Determine"), this), 3240, 840, 1215, 375);
    Command1->setFont(DesignFont("Tahoma", 9));

    Frame1 = Place(new QGroupBox(QStringLiteral("Communication Conditions"), this), 360, 1440, 4335,
                   855);
    Frame1->setFont(DesignFont("Tahoma", 9));
    Label7 = Place(new QLabel(QStringLiteral("Baud Rate: 9600"), Frame1), 240, 240, 1695, 255);
    Label8 = Place(new QLabel(QStringLiteral("Parity: None"), Frame1), 2400, 240, 1695, 255);
    Label9 = Place(new QLabel(QStringLiteral("Data Length: 8-bit"), Frame1), 240, 480, 1695, 255);
    Label10 = Place(new QLabel(QStringLiteral("Stop bit: 1 bit"), Frame1), 2400, 480, 2295, 255);

    NameControls({{Label1, "Label1"},
                  {Combo1, "Combo1"},
                  {Command1, "Command1"},
                  {Frame1, "Frame1"},
                  {Label7, "Label7"},
                  {Label8, "Label8"},
                  {Label9, "Label9"},
                  {Label10, "Label10"}});
    setTabOrder(Command1, Combo1);
    // The box is 81 pixels wide: a device's whole name goes to its tooltip and, for a screen
    // reader, to its description; its name is what it is for. On Linux Qt names an editable
    // box after its text and its caption (the buddy) by relation: the name is the text's in it.
    Label1->setBuddy(Combo1);
    for (QWidget* box : {static_cast<QWidget*>(Combo1), static_cast<QWidget*>(Combo1->lineEdit())})
        box->setAccessibleName(tr("Communication port"));
    Combo1->view()->setAccessibleName(tr("Ports"));
    connect(Combo1, &QComboBox::editTextChanged, this, &frmPORT::DescribePort);
    connect(Command1, &QPushButton::clicked, this, &frmPORT::Command1_Click);
    connect(m_watch, &PortWatch::PortsChanged, this, &frmPORT::ListFoundPorts);

    Form_Load();
}

void frmPORT::Form_Load()
{
    DescribePort(Combo1->currentText());
    for (int entry = 0; entry < PortEntries; ++entry)
        Combo1->addItem(PortEntryName(entry));
    ListFoundPorts();
    if (m_inUse.PortDevice.isEmpty()) {
        Combo1->setCurrentIndex(m_inUse.PortNumber - 1);
    } else {
        // A device in use that is a found port is shown as that entry of the list.
        Combo1->setCurrentIndex(Combo1->findText(m_inUse.PortDevice));
        Combo1->setEditText(m_inUse.PortDevice);
    }
}

void frmPORT::ListFoundPorts()
{
    // The operator may be typing or have chosen while the hardware changes: the text, the
    // cursor and the chosen port (where it still is) stay as they were.
    QLineEdit* edit = Combo1->lineEdit();
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    const int selectionStart = edit->selectionStart();
    const int selectionLength = int(edit->selectedText().size());
    const int chosen = Combo1->currentIndex();
    const QString chosenText = Combo1->itemText(chosen);

    // Each row: the device, and its line in the drop-down.
    QList<std::pair<QString, QString>> rows;
    for (const FoundPort& port : BeyondPortEntries(m_watch->Ports(), m_system))
        rows.append({port.device, FoundPortListText(port)});
    // The simulators running now come last: their pseudo-terminals are no ports of this
    // computer, but they open as any typed device does.
    for (const QString& device : m_watch->Simulators())
        rows.append({device, SimulatorListText(device)});

    // Entries that stay are left in place, so that an open drop-down keeps its highlight.
    const QSignalBlocker quiet(Combo1);
    for (int i = 0; i < int(rows.size()); ++i) {
        const int row = PortEntries + i;
        const int listed = Combo1->findText(rows[i].first);
        if (listed < row)
            Combo1->insertItem(row, rows[i].first);
        for (int gone = listed - row; gone > 0; --gone)
            Combo1->removeItem(row);
        // A screen reader reads the line as the list shows it, not the device alone.
        for (const int role : {ListTextRole, int(Qt::ToolTipRole), int(Qt::AccessibleTextRole)})
            Combo1->setItemData(row, rows[i].second, role);
    }
    while (Combo1->count() > PortEntries + int(rows.size()))
        Combo1->removeItem(Combo1->count() - 1);

    if (chosen >= PortEntries)
        Combo1->setCurrentIndex(Combo1->findText(chosenText));
    if (edit->text() != text)
        edit->setText(text);
    if (selectionLength > 0 && cursor == selectionStart)
        edit->setSelection(selectionStart + selectionLength, -selectionLength);
    else if (selectionLength > 0)
        edit->setSelection(selectionStart, selectionLength);
    else
        edit->setCursorPosition(cursor);

    // An open list follows its lines.
    FitListToLines(*Combo1);
}

void frmPORT::DescribePort(const QString& text)
{
    Combo1->setToolTip(text);
    Combo1->setAccessibleDescription(text);
    Combo1->lineEdit()->setAccessibleDescription(text);
}

void frmPORT::Command1_Click()
{
    const PortChoice choice = InterpretPortText(Combo1->currentText());
    // PortNumber keeps the last entry chosen when a device is typed.
    PortSelection selection{m_inUse.PortNumber, {}};
    switch (choice.kind) {
    case PortChoice::Invalid:
        m_showMessage(choice.problem);
        return;
    case PortChoice::Entry:
        selection.PortNumber = static_cast<std::int16_t>(choice.entry);
        selection.PortNumber = static_cast<std::int16_t>(selection.PortNumber + 1);
        break;
    case PortChoice::Device:
        selection.PortDevice = choice.device;
        break;
    }
    // A port that will not open keeps the dialog open for another choice; the port in use
    // before stays what the close box goes back to.
    if (!Open(selection))
        return;
    m_choice = selection;
    accept();
}

bool frmPORT::Open(const PortSelection& selection)
{
    const Result<> opened = m_tryPort(selection);
    if (!opened)
        m_showMessage(opened.Reason());
    return opened.Ok();
}

void frmPORT::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    Command1->setFocus();
    qCInfo(lcLink) << "port dialog shown";
}

void frmPORT::reject()
{
    m_choice = m_inUse;
    if (m_reopenOnReject)
        Open(m_inUse);
    QDialog::reject();
}

} // namespace qm
