#pragma once

#include <QString>

class QWidget;

namespace qm {

// The save-file dialog of the export: shown with ShowSave, read through FileName. The
// file-type list and the absence of a default extension are fixed, as the window was
// designed. FileName is kept from one showing to the next.
class CommonDialog {
public:
    static const QString Filter;

    explicit CommonDialog(QWidget* owner = nullptr)
        : m_owner(owner)
    {
    }
    virtual ~CommonDialog() = default;

    // Shows the modal dialog. False when the operator cancelled it; FileName is then as it
    // was.
    virtual bool ShowSave();

    QString FileName() const { return m_fileName; }
    void setFileName(const QString& name) { m_fileName = name; }

private:
    QWidget* m_owner;
    QString m_fileName;
};

} // namespace qm
