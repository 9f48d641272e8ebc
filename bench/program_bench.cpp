// The tray program as a whole: start-up of the main controller with a 200-layer profile
// until the keyboard has every key, the editor opened and switched over that profile, and
// what qxcfg costs while nothing happens.
#include "QXBenchKeyboard.h"
#include "QXBenchProfile.h"
#include "app/CQXCfgDlg.h"
#include "app/QXMainController.h"
#include "editor/CQXLayersTreeCtrl.h"
#include "editor/CQXLayersView.h"
#include "platform/QXMessages.h"
#include "platform/QXDispatch.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <ctime>
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

// The editor over the 200-layer profile, with the keyboard connected.
struct OpenProgram {
    OpenProgram() {
        QXDispatch::setCurrent(&dispatch);
        QXProfileFolders folders = bigProfile().folders;
        folders.program = QX_PROGRAM_DIR;
        controller = std::make_unique<QXMainController>(QXMainController::Setup{
            folders, QXDeviceDiscovery::createVirtualBackend(keyboard.folder()), {}});
        controller->loadProfile();
        controller->connectKeyboard();
    }
    ~OpenProgram() {
        delete controller->mainWindow();
        controller->shutdown();
        controller.reset();
        QXDispatch::setCurrent(nullptr);
    }
    CQXCfgDlg* window() const { return static_cast<CQXCfgDlg*>(controller->mainWindow()); }
    // Runs the event loop until the keyboard view has painted more than `count` times.
    void paintedBeyond(unsigned long count) const {
        while (window()->keyboardView()->paintCount() <= count)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    QXBenchKeyboard keyboard;
    QXDispatch dispatch;
    std::unique_ptr<QXMainController> controller;
};

// From the tray icon's click (2042) to the editor's first painted keyboard view.
void BM_OpenEditorOn200Layers(benchmark::State& st) {
    OpenProgram program;
    for (auto _ : st) {
        program.dispatch.Send(QXM_SHOW_MAIN_WINDOW);
        program.paintedBeyond(0);
        st.PauseTiming();
        delete program.window();
        QApplication::processEvents();
        st.ResumeTiming();
    }
    st.counters["budget_ms"] = 150;
}
BENCHMARK(BM_OpenEditorOn200Layers)->Unit(benchmark::kMillisecond)->Iterations(10);

// From selecting another layer in the tree (2034) to the keyboard view repainted with it.
void BM_SwitchSelectedLayer(benchmark::State& st) {
    OpenProgram program;
    program.dispatch.Send(QXM_SHOW_MAIN_WINDOW);
    program.paintedBeyond(0);
    CQXLayersTreeCtrl* tree = program.window()->tree();
    const QXItemList& layers = program.controller->tree().userLayers()->children();
    size_t next = 0;
    for (auto _ : st) {
        const unsigned long painted = program.window()->keyboardView()->paintCount();
        tree->selectItem(layers[next++ % layers.size()]);
        program.paintedBeyond(painted);
    }
    st.counters["budget_ms"] = 16;
}
BENCHMARK(BM_SwitchSelectedLayer)->Unit(benchmark::kMillisecond);

double processorSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// The editor open on the 200-layer profile and left alone for 10 s.
void BM_UntouchedEditorFor10Seconds(benchmark::State& st) {
    OpenProgram program;
    program.dispatch.Send(QXM_SHOW_MAIN_WINDOW);
    program.paintedBeyond(0);
    QApplication::processEvents();
    for (auto _ : st) {
        const unsigned long painted = program.window()->keyboardView()->paintCount();
        const double before = processorSeconds();
        QEventLoop loop;
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        st.counters["repaints"] = static_cast<double>(program.window()->keyboardView()->paintCount() - painted);
        st.counters["cpu_ms"] = (processorSeconds() - before) * 1000.0;
    }
}
BENCHMARK(BM_UntouchedEditorFor10Seconds)->Iterations(1)->Unit(benchmark::kSecond);

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
