#pragma once

#include <memory>
#include <optional>

// How long the user has left keyboard and mouse alone, from the X server's screen-saver
// extension, over a display connection of its own opened on first use. Without a
// display, or without the extension, the answer is "cannot tell". GUI thread.
class QXX11Idle {
public:
    QXX11Idle();
    ~QXX11Idle();
    QXX11Idle(const QXX11Idle&) = delete;
    QXX11Idle& operator=(const QXX11Idle&) = delete;

    // Whole seconds since the last input.
    std::optional<unsigned> idleSeconds();

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
    bool m_opened = false; // opening was tried; it is not tried again
};
