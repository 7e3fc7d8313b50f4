#pragma once

#include <QString>

#include <utility>

class QWidget;

namespace qm {

// A save-file dialog: shown with ShowSave, read through FileName and FilterIndex. The
// export's file-type list (Filter) and the absence of a default extension are as the window
// was designed; another save (the chart's image) gives its own list. FileName is kept from
// one showing to the next.
class CommonDialog {
public:
    static const QString Filter;

    explicit CommonDialog(QWidget* owner = nullptr, QString filter = Filter)
        : m_owner(owner)
        , m_filter(std::move(filter))
    {
    }
    virtual ~CommonDialog() = default;

    // Shows the modal dialog. False when the operator cancelled it; FileName is then as it
    // was.
    virtual bool ShowSave();

    QString FileName() const { return m_fileName; }
    void setFileName(const QString& name) { m_fileName = name; }
    // A name given without an ending gets that of the type chosen in the list (the dialog
    // then asks before replacing a file of that name). Off for the export, as designed.
    void setEndingFromType(bool on) { m_endingFromType = on; }
    // The file type chosen in the list, from 0.
    int FilterIndex() const { return m_filterIndex; }
    void setFilterIndex(int index) { m_filterIndex = index; }

private:
    QWidget* m_owner;
    QString m_filter;
    QString m_fileName;
    int m_filterIndex = 0;
    bool m_endingFromType = false;
};

} // namespace qm
