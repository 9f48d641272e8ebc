#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qxtest {

// A fresh folder under the system's temporary folder, removed with its contents when
// the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& p) const { return m_path / p; }

private:
    std::filesystem::path m_path;
};

// Waits until the condition holds, checking it often; false when it did not hold
// within the time-out. Tests wait for conditions, never for fixed times.
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Sets an environment variable for the lifetime of the object, restoring the old one.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    bool m_had;
    std::string m_old;
};

std::string readFile(const std::filesystem::path& path);

// Runs a program to its end and collects what it printed.
struct ProgramResult {
    int exitStatus = -1; // the exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};
ProgramResult runProgram(const std::vector<std::string>& argv);

// A program running beside the test, with the test's environment. The destructor kills
// it if it still runs.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // Waits for the program to end; false when it still runs after the time-out.
    bool waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool running();
    // The exit status, or -1 when it did not exit normally or has not ended.
    int exitStatus() const { return m_status; }
    void terminate(); // SIGTERM, then waits; SIGKILL when it will not go

private:
    pid_t m_pid = -1;
    bool m_ended = false;
    int m_status = -1;
};
void writeFile(const std::filesystem::path& path, const std::string& content);

// A TCP port on 127.0.0.1 that was free a moment ago, for a server a test starts.
std::uint16_t freeLoopbackPort();
// Whether something accepts connections on 127.0.0.1:port.
bool acceptsOnLoopback(std::uint16_t port);

} // namespace qxtest
