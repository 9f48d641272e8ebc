#pragma once

#include "platform/QXSingleton.h"

#include <QPointer>
#include <QWidget>

// The controller of the program as a whole: shows the main window on 2042.
class QXMainController : public singleton<QXMainController> {
public:
    QXMainController();
    ~QXMainController();

    // Creates the main window when it does not exist, centres it on first show, shows,
    // raises and activates it.
    void showMainWindow();
    QWidget* mainWindow() const { return m_mainWindow; }

private:
    QPointer<QWidget> m_mainWindow;
};
