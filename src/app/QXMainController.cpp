#include "app/QXMainController.h"

#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

QXMainController::QXMainController() {
    QXDispatch::current().RegisterHandler(QXM_SHOW_MAIN_WINDOW, this,
                                          &QXMainController::showMainWindow);
}

QXMainController::~QXMainController() {
    QXDispatch::current().UnregisterObject(this);
    delete m_mainWindow;
}

void QXMainController::showMainWindow() {
    if (!m_mainWindow) {
        // The editor takes this window's place; until then it says what runs.
        auto* window = new QWidget;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->setWindowTitle(QStringLiteral("Tessera Quadrix Configurator"));
        auto* layout = new QVBoxLayout(window);
        layout->addWidget(new QLabel(QStringLiteral(
            "Tessera Quadrix Configurator is running in the notification area.")));
        window->resize(480, 120);
        if (QScreen* screen = QGuiApplication::primaryScreen())
            window->move(screen->geometry().center() - window->rect().center());
        m_mainWindow = window;
    }
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}
