#pragma once

// A virtual keyboard for benchmarks that run the device code in-process: a disk folder
// with the files a keyboard has, and listening sockets for its two interfaces.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

class QXBenchKeyboard {
public:
    QXBenchKeyboard() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qxbench-kb-XXXXXX").string();
        m_root = ::mkdtemp(pattern.data());
        const std::filesystem::path tessera = folder() / "kb" / "disk" / "vTessera";
        std::filesystem::create_directories(tessera);
        std::ofstream(tessera / "version.sys", std::ios::binary) << std::string("TesseraV0.80b\0", 14);
        std::ofstream(tessera / "scancode.sys", std::ios::binary) << std::string(9216, '\xFF');
        for (const char* name : {"signal.sock", "keys.sock"}) {
            const int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::strncpy(address.sun_path, (folder() / "kb" / name).c_str(), sizeof address.sun_path - 1);
            ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            ::listen(fd, 4);
            m_sockets.push_back(fd);
        }
    }
    ~QXBenchKeyboard() {
        for (int fd : m_sockets)
            ::close(fd);
        std::filesystem::remove_all(m_root);
    }
    QXBenchKeyboard(const QXBenchKeyboard&) = delete;
    QXBenchKeyboard& operator=(const QXBenchKeyboard&) = delete;

    // The folder the virtual discovery backend is given.
    std::filesystem::path folder() const { return m_root / "keyboards"; }

private:
    std::filesystem::path m_root;
    std::vector<int> m_sockets;
};
