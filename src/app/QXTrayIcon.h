#pragma once

#include "platform/QXWin32.h"

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

// The program's icon in the notification area: tip "Tessera Quadrix Configurator", one
// picture while a keyboard is connected and another while none is (2040 switches), a
// left click shows the main window (2042), and the menu offers "Configure...", the two
// web pages and "Exit". Where the desktop has no notification area (a bare X server,
// Qt's offscreen platform) the program runs on without it.
//
// Binds 2040, 2041 and WM_DESTROY (the icon goes with the dispatch window).
class QXTrayIcon : public QObject {
    Q_OBJECT
public:
    // The web pages the menu opens.
    static constexpr const char* kProductPage = "https://tessera-quadrix.example.org/";
    static constexpr const char* kForumPage = "https://forum.tessera-quadrix.example.org/";
    // Menu command identifiers.
    enum : unsigned { kExit = 32774, kConfigure = 32775, kAbout = 32776, kForum = 32789 };

    // mainWindowExists tells whether the main window is open ("Configure..." is grey then).
    QXTrayIcon(bool connected, std::function<bool()> mainWindowExists);
    ~QXTrayIcon() override;

    bool connected() const { return m_connected; }
    bool visible() const { return m_icon && m_icon->isVisible(); }
    QMenu& menu() { return m_menu; }
    // Runs a menu command as though it was chosen.
    void command(unsigned id);
    // Tells the user something in a balloon from the icon: what the program repaired or
    // could not do. Nothing without a notification area (the log has it all the same).
    void notify(const QStringList& notes);
    // The last balloon's text, for tests.
    QString lastNotice() const { return m_lastNotice; }

private:
    void deviceState(unsigned state);
    void trayNotify(unsigned id, qxwin::LPARAM mouseMessage);
    void destroyed();
    void activated(QSystemTrayIcon::ActivationReason reason);
    void updateMenu();
    void setIcon();

    std::unique_ptr<QSystemTrayIcon> m_icon;
    QMenu m_menu;
    QAction* m_configure = nullptr;
    QIcon m_connectedIcon, m_disconnectedIcon;
    std::function<bool()> m_mainWindowExists;
    bool m_connected = false;
    QString m_lastNotice;
};
