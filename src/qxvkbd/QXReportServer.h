#pragma once

#include "QXSocketServer.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

// One of the virtual keyboard's HID interfaces: a listening sequenced-packet socket that
// the program connects to as it would open the interface's report node; each message is
// one report. Any number of programs may be connected; one that goes away is dropped and
// may connect again. GUI thread only.
class QXReportServer : public QXSocketServer {
    Q_OBJECT
public:
    explicit QXReportServer(QObject* parent = nullptr);
    ~QXReportServer() override;

    // Binds and listens at path; false with a message when that fails.
    bool listen(const std::filesystem::path& path, std::string& error);

    // Sends one report to every connected program, first taking in those whose connection
    // is still waiting to be accepted, so a program that connected before the report was
    // asked for gets it. Returns how many received it.
    int send(std::span<const uint8_t> report);

private:
    bool admit(int) override { return true; }
    void readable(int fd) override;
};
