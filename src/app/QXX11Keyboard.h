#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The X server's keyboard as the language layers and conditions need it, over a display
// connection of its own (opened on first use; without a display every answer is
// "unknown"). Used on one thread at a time.
class QXX11Keyboard {
public:
    using Layout = std::pair<std::string, std::string>; // xkeyboard-config layout, variant

    QXX11Keyboard();
    ~QXX11Keyboard();
    QXX11Keyboard(const QXX11Keyboard&) = delete;
    QXX11Keyboard& operator=(const QXX11Keyboard&) = delete;

    // The XKB groups in order, from the root window's _XKB_RULES_NAMES.
    std::optional<std::vector<Layout>> installedLayouts();
    // The XKB group in effect now.
    std::optional<unsigned> currentGroup();
    // The window _NET_ACTIVE_WINDOW names; 0 when none.
    unsigned long activeWindow();

private:
    struct Connection;
    Connection* connection();

    std::unique_ptr<Connection> m_connection;
    bool m_opened = false;
};
