#include "app/QXTrayIcon.h"

#include "platform/QXDesktop.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "platform/QXResource.h"

#include <QCursor>
#include <QPixmap>

std::span<const QXResourceData> qxAppResources();

namespace {

// Windows mouse messages the icon's callback carries.
constexpr qxwin::LPARAM kLeftButtonDown = 0x0201;
constexpr qxwin::LPARAM kRightButtonDown = 0x0204;

QIcon iconFromResources(const char* name, const char* doubleName) {
    QIcon icon;
    for (const char* n : {name, doubleName}) {
        const QXResourceData* r = findResource(qxAppResources(), n);
        QPixmap pixmap;
        if (r && pixmap.loadFromData(r->data, static_cast<unsigned>(r->size), "PNG"))
            icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QXTrayIcon::QXTrayIcon(bool connected, std::function<bool()> mainWindowExists)
    : m_connectedIcon(iconFromResources("tray-connected", "tray-connected@2x")),
      m_disconnectedIcon(iconFromResources("tray-disconnected", "tray-disconnected@2x")),
      m_mainWindowExists(std::move(mainWindowExists)), m_connected(connected) {
    QXDispatch& dispatch = QXDispatch::current();
    dispatch.RegisterHandler(QXM_DEVICE_STATE, this, &QXTrayIcon::deviceState);
    dispatch.RegisterHandler(QXM_TRAY_NOTIFY, this, &QXTrayIcon::trayNotify);
    dispatch.RegisterHandler(qxwin::WM_DESTROY, this, &QXTrayIcon::destroyed);

    m_configure = m_menu.addAction(QStringLiteral("Configure..."), [this] { command(kConfigure); });
    m_menu.setDefaultAction(m_configure);
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("About Configurator..."), [this] { command(kAbout); });
    m_menu.addAction(QStringLiteral("Discussion forum..."), [this] { command(kForum); });
    m_menu.addSeparator();
    m_menu.addAction(QStringLiteral("Exit"), [this] { command(kExit); });
    connect(&m_menu, &QMenu::aboutToShow, this, &QXTrayIcon::updateMenu);

    // Qt adds the icon again by itself when the panel restarts.
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_icon = std::make_unique<QSystemTrayIcon>();
        m_icon->setToolTip(QStringLiteral("Tessera Quadrix Configurator"));
        m_icon->setContextMenu(&m_menu);
        connect(m_icon.get(), &QSystemTrayIcon::activated, this, &QXTrayIcon::activated);
        setIcon();
        m_icon->show();
    }
}

void QXTrayIcon::notify(const QStringList& notes) {
    if (notes.isEmpty())
        return;
    // A balloon holds a few lines; the rest is in the log.
    constexpr qsizetype kShown = 3;
    QString text = notes.mid(0, kShown).join(QLatin1Char('\n'));
    if (notes.size() > kShown)
        text += QStringLiteral("\n(%1 more in the log)").arg(notes.size() - kShown);
    m_lastNotice = text;
    if (m_icon && m_icon->isVisible())
        m_icon->showMessage(QStringLiteral("Tessera Quadrix Configurator"), text,
                            QSystemTrayIcon::Warning);
}

QXTrayIcon::~QXTrayIcon() {
    QXDispatch::current().UnregisterObject(this);
}

void QXTrayIcon::setIcon() {
    if (m_icon)
        m_icon->setIcon(m_connected ? m_connectedIcon : m_disconnectedIcon);
}

void QXTrayIcon::deviceState(unsigned state) {
    m_connected = state == 0;
    setIcon();
}

void QXTrayIcon::updateMenu() {
    m_configure->setEnabled(!(m_mainWindowExists && m_mainWindowExists()));
}

void QXTrayIcon::trayNotify(unsigned, qxwin::LPARAM mouseMessage) {
    if (mouseMessage == kLeftButtonDown) {
        QXDispatch::current().Send(QXM_SHOW_MAIN_WINDOW);
    } else if (mouseMessage == kRightButtonDown) {
        updateMenu();
        m_menu.popup(QCursor::pos());
    }
}

void QXTrayIcon::activated(QSystemTrayIcon::ActivationReason reason) {
    // The context menu opens by itself; a plain click shows the main window.
    if (reason == QSystemTrayIcon::Trigger)
        QXDispatch::current().Send(QXM_TRAY_NOTIFY, 0, kLeftButtonDown);
}

void QXTrayIcon::destroyed() {
    if (m_icon)
        m_icon->hide();
}

void QXTrayIcon::command(unsigned id) {
    switch (id) {
    case kConfigure:
        QXDispatch::current().Send(QXM_SHOW_MAIN_WINDOW);
        break;
    case kAbout:
        QXDesktop::open(kProductPage);
        break;
    case kForum:
        QXDesktop::open(kForumPage);
        break;
    case kExit:
        // Closing the dispatch window ends the program.
        QXDispatch::current().Post(qxwin::WM_CLOSE);
        break;
    default:
        break;
    }
}
