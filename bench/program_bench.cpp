// The tray program as a whole: start-up of the main controller with a 200-layer profile
// until the keyboard has every key, and what qxcfg costs while nothing happens.
#include "QXBenchKeyboard.h"
#include "QXBenchProfile.h"
#include "app/QXMainController.h"
#include "platform/QXDispatch.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace qxbench;
namespace fs = std::filesystem;

// From constructing the main controller to the keyboard's device thread having written
// all 113 pictures and the code table.
void BM_StartUpToKeyboardPushed(benchmark::State& st) {
    QXBenchKeyboard keyboard;
    QXProfileFolders folders = bigProfile().folders;
    folders.program = QX_PROGRAM_DIR;
    for (auto _ : st) {
        QXDispatch dispatch;
        QXDispatch::setCurrent(&dispatch);
        const auto start = std::chrono::steady_clock::now();
        {
            QXMainController controller(
                {folders, QXDeviceDiscovery::createVirtualBackend(keyboard.folder()), {}});
            controller.loadProfile();
            controller.connectKeyboard();
            QXDiskFiles& files = controller.device().files();
            while (files.bytesWritten() < 113u * 4608u + 9216u)
                std::this_thread::yield();
            st.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            st.PauseTiming();
            controller.shutdown(); // saves the profile: not part of the start-up
        }
        QXDispatch::setCurrent(nullptr);
        st.ResumeTiming();
    }
}
BENCHMARK(BM_StartUpToKeyboardPushed)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

pid_t spawn(std::vector<std::string> args) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// User and system time of a process, in clock ticks.
long long cpuTicks(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stoll(field);
        if (i == 15) {
            stime = std::stoll(field);
            break;
        }
    }
    return utime + stime;
}

long long residentKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    return 0;
}

// qxcfg with a virtual keyboard connected, the default profile and no window open, left
// alone for 60 seconds: processor time used and memory held.
void BM_IdleProgram(benchmark::State& st) {
    std::string pattern = (fs::temp_directory_path() / "qxbench-idle-XXXXXX").string();
    const fs::path root = ::mkdtemp(pattern.data());
    fs::create_directories(root / "run");
    fs::permissions(root / "run", fs::perms::owner_all);
    ::setenv("XDG_RUNTIME_DIR", (root / "run").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string bin = QX_PROGRAM_DIR;
    const pid_t keyboard = spawn({bin + "/qxvkbd", "--name", "kb", "--no-window"});
    const fs::path dynamic = root / "run" / "TesseraQuadrix-virtual" / "kb" / "disk" / "vTessera" / "dynamic";
    while (!fs::exists(dynamic))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const pid_t program = spawn({bin + "/qxcfg", "/minimized"});
    auto count = [&] {
        std::error_code ec;
        return std::distance(fs::directory_iterator(dynamic, ec), fs::directory_iterator());
    };
    while (count() < 113)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::seconds(2)); // start-up settles

    double percent = 0;
    for (auto _ : st) {
        const long long before = cpuTicks(program);
        std::this_thread::sleep_for(std::chrono::seconds(60));
        percent = 100.0 * double(cpuTicks(program) - before) / double(::sysconf(_SC_CLK_TCK)) / 60.0;
    }
    st.counters["cpu_percent"] = percent;
    st.counters["rss_MiB"] = double(residentKiB(program)) / 1024.0;
    st.counters["keyboard_rss_MiB"] = double(residentKiB(keyboard)) / 1024.0;
    for (pid_t pid : {program, keyboard}) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    fs::remove_all(root);
}
BENCHMARK(BM_IdleProgram)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
