#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

// A one-connection TCP server on 127.0.0.1 run by a script on its own thread: the script
// gets a Peer to talk to the client. Everything it waits for is bounded by a generous
// time-out, so a client that misbehaves fails the test instead of hanging it.
class ScriptedServer {
public:
    class Peer {
    public:
        explicit Peer(int fd) : m_fd(fd) {}
        // Sends the text at once (no Nagle delay); false when the client has gone.
        bool send(const std::string& text);
        // Reads up to and including the next "\r\n"; empty when the client closed or
        // sent nothing within 20 s.
        std::string readLine();
        // Waits (at most 20 s) until the client closes its end.
        void waitForClose();
        int fd() const { return m_fd; }

    private:
        int m_fd;
        std::string m_pending;
    };

    explicit ScriptedServer(std::function<void(Peer&)> script);
    ~ScriptedServer(); // waits for the script to end
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::u16string address() const; // "127.0.0.1:<port>"
    // Joins the script's thread; afterwards everything the script recorded is safe to read.
    void finish();

private:
    int m_listener = -1;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};
