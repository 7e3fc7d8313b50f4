#pragma once

#include <QDialog>

#include <functional>

class QLabel;
class QPushButton;

namespace qm {

// The confirmation before everything is cleared: "OK" runs the clearing, "Cancel" and the
// close box leave everything as it is. A new one for each showing.
class CLR_ALL : public QDialog {
    Q_OBJECT

public:
    // `clearAll` sends the clear command and empties the table, the texts and the store.
    explicit CLR_ALL(std::function<void()> clearAll, QWidget* parent = nullptr);

    void OKButton_Click();
    void CancelButton_Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLabel* Label1;
    QPushButton* OKButton;
    QPushButton* CancelButton;
    std::function<void()> m_clearAll;
};

} // namespace qm
