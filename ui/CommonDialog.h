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
    // Where the dialog opens while it has no name to offer; the folder of the name once it
    // has one.
    QString Folder() const;
    void setFolder(const QString& folder) { m_folder = folder; }

    // Qt's file dialog keeps its last folder, its history and its side bar in a settings file
    // of Qt's own (QtProject.conf among the user's settings). Given a folder that goes with the
    // run, it keeps them there instead: what the program remembers is in qm6200.conf alone.
    static void KeepQtMemoryIn(const QString& folder);
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
    QString m_folder;
    int m_filterIndex = 0;
    bool m_endingFromType = false;
};

} // namespace qm
