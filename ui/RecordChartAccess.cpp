#include "ui/RecordChartAccess.h"

#include "ui/RecordChart.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QPointer>

#include <array>

namespace qm {

namespace {

// A legend entry, to a screen reader: a check box named after its series, checked while the
// series is shown; pressing it hides or shows the series, as a click on it does.
class LegendEntryAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    LegendEntryAccessible(RecordChart* chart, int series)
        : m_chart(chart)
        , m_series(series)
    {
    }

    bool isValid() const override { return m_chart; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override
    {
        return m_chart ? m_chart->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_chart.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override
    {
        if (!m_chart)
            return {};
        switch (kind) {
        case QAccessible::Name:
            return RecordChart::SeriesName(m_series);
        case QAccessible::Description:
            return m_chart->SeriesShown(m_series) ? RecordChart::tr("Shown")
                                                  : RecordChart::tr("Hidden");
        default:
            return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!m_chart)
            return {};
        const QRect entry = m_chart->LegendEntry(m_series);
        return QRect(m_chart->mapToGlobal(entry.topLeft()), entry.size());
    }
    QAccessible::Role role() const override { return QAccessible::CheckBox; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!m_chart || !m_chart->isVisible())
            state.invisible = true;
        state.checkable = true;
        state.checked = m_chart && m_chart->SeriesShown(m_series);
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    // QAccessibleActionInterface
    QStringList actionNames() const override { return {pressAction(), toggleAction()}; }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
    void doAction(const QString& name) override
    {
        if (!m_chart || (name != pressAction() && name != toggleAction()))
            return;
        m_chart->SetSeriesShown(m_series, !m_chart->SeriesShown(m_series));
    }

private:
    QPointer<RecordChart> m_chart;
    int m_series;
};

// The chart, to a screen reader: a chart whose children are its legend entries. The entries
// are kept (registered) for as long as the chart's own interface lives.
class ChartAccessible : public QAccessibleWidget {
public:
    explicit ChartAccessible(RecordChart* chart)
        : QAccessibleWidget(chart, QAccessible::Chart)
    {
    }
    ~ChartAccessible() override
    {
        for (const QAccessible::Id id : m_entries) {
            if (id != 0)
                QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return ChartSeriesCount; }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= ChartSeriesCount)
            return nullptr;
        QAccessible::Id& id = m_entries[std::size_t(index)];
        if (id == 0)
            id = QAccessible::registerAccessibleInterface(
                new LegendEntryAccessible(static_cast<RecordChart*>(widget()), index));
        return QAccessible::accessibleInterface(id);
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (int index = 0; index < ChartSeriesCount; ++index) {
            if (m_entries[std::size_t(index)] != 0
                && QAccessible::accessibleInterface(m_entries[std::size_t(index)]) == child)
                return index;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        for (int index = 0; index < ChartSeriesCount; ++index) {
            QAccessibleInterface* entry = child(index);
            if (entry && entry->rect().contains(x, y))
                return entry;
        }
        return nullptr;
    }
    QString text(QAccessible::Text kind) const override
    {
        if (kind != QAccessible::Description || !widget()->accessibleDescription().isEmpty())
            return QAccessibleWidget::text(kind);
        return static_cast<const RecordChart*>(widget())->SummaryText();
    }

    // The entry of `series`, once a screen reader has asked for it.
    QAccessibleInterface* Entry(int series) const
    {
        const QAccessible::Id id = m_entries[std::size_t(series)];
        return id != 0 ? QAccessible::accessibleInterface(id) : nullptr;
    }

private:
    mutable std::array<QAccessible::Id, ChartSeriesCount> m_entries{};
};

QAccessibleInterface* ChartAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("qm::RecordChart"))
        return new ChartAccessible(static_cast<RecordChart*>(object));
    return nullptr;
}

} // namespace

void MakeChartsReadable()
{
    static const bool installed = [] {
        QAccessible::installFactory(ChartAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void TellSeriesShownChanged(RecordChart& chart, int series)
{
    if (!QAccessible::isActive())
        return;
    auto* readable = static_cast<ChartAccessible*>(QAccessible::queryAccessibleInterface(&chart));
    if (QAccessibleInterface* entry = readable ? readable->Entry(series) : nullptr) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(entry, changed);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace qm
