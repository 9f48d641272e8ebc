#pragma once

#include "controls/CTesDialog.h"

#include <QComboBox>
#include <QKeyEvent>
#include <functional>

class IMemWatcherProps;
class INetWatcherProps;
class QLabel;

// The property windows of the memory and network views: a label over a drop-down list
// (identifiers 740 and 742) that fill the editor's property area and follow its width.
// Embedded in the editor, so Escape and Enter go to it, not to this dialog. GUI thread.
class CSysStatPage : public CTesDialog {
public:
    CSysStatPage(const QString& label, QComboBox* list, QWidget* parent);

protected:
    int OnInitDialog() override;
    void keyPressEvent(QKeyEvent* event) override { event->ignore(); }

    QLabel* m_label;
    QComboBox* m_list;
};

class CMemWatcherGUI : public CSysStatPage {
public:
    CMemWatcherGUI(IMemWatcherProps* props, QWidget* parent);
};

// A drop-down list that is filled afresh each time it opens.
class CRefreshedComboBox : public QComboBox {
public:
    explicit CRefreshedComboBox(QWidget* parent) : QComboBox(parent) {}
    std::function<void()> beforePopup;

    void showPopup() override {
        if (beforePopup)
            beforePopup();
        QComboBox::showPopup();
    }
};

// The interface list: at first the stored name alone (or "All adapters"); each time it
// drops down, "All adapters" and every interface the system has now.
class CNetworkingWatcherGUI : public CSysStatPage {
public:
    CNetworkingWatcherGUI(INetWatcherProps* props, QWidget* parent);

private:
    void rebuild();

    INetWatcherProps* m_props;
};
