// The virtual keyboard, run as its own program and driven the way the program drives a
// keyboard: through the files on its disk and its report sockets.
#include "device/QXDeviceDiscovery.h"
#include "device/QXDiskFiles.h"
#include "model/QXKeyTable.h"
#include "model/QXLayoutPicture.h"
#include "support/QXTestSupport.h"

#include <QImage>
#include <QString>
#include <algorithm>
#include <array>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using qxtest::ChildProcess;
using qxtest::ProgramResult;
using qxtest::waitFor;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kProgram = std::string(QX_PROGRAM_DIR) + "/qxvkbd";

size_t keyIndex(std::u16string_view name) {
    return QXKeyTable::findKeyByName(name).value();
}

std::string keyName(size_t key) {
    const std::u16string_view name = QXKeyTable::key(key).name;
    return QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())).toStdString();
}

std::string displayFile(size_t key) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.sys", QXKeyTable::key(key).displayNumber);
    return name;
}

// As the program writes: in place from offset 0, the file kept as long as it is, whole
// 512-byte sectors with 0x77 after the content.
void writeLikeTheProgram(const fs::path& path, Bytes content) {
    content.resize((content.size() + 511) / 512 * 512, 0x77);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(::pwrite(fd, content.data(), content.size(), 0), ssize_t(content.size()));
    ::close(fd);
}

// A display picture of one RGB 5-6-5 colour, or with a second colour in the stored
// columns from 24 on.
Bytes picture(uint16_t colour, std::optional<uint16_t> rightHalf = std::nullopt) {
    Bytes bytes(QXDisplayImage::kBytes);
    for (int row = 0; row < 48; ++row)
        for (int column = 0; column < 48; ++column) {
            const uint16_t c = column >= 24 && rightHalf ? *rightHalf : colour;
            bytes[(row * 48 + column) * 2] = static_cast<uint8_t>(c >> 8);
            bytes[(row * 48 + column) * 2 + 1] = static_cast<uint8_t>(c & 0xFF);
        }
    return bytes;
}
constexpr uint16_t kRed = 0xF800, kGreen = 0x07E0, kBlue = 0x001F;

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// The program's end of one of the keyboard's interfaces.
class ReportClient {
public:
    explicit ReportClient(const fs::path& path) {
        m_fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~ReportClient() { ::close(m_fd); }
    bool connected() const { return m_connected; }

    // The next report, or nothing when none comes within the time-out.
    std::optional<Bytes> next(int timeoutMs = 20000) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1)
            return std::nullopt;
        Bytes report(64);
        const ssize_t n = ::recv(m_fd, report.data(), report.size(), MSG_DONTWAIT);
        if (n <= 0)
            return std::nullopt;
        report.resize(static_cast<size_t>(n));
        return report;
    }

private:
    int m_fd = -1;
    bool m_connected = false;
};

Bytes keyReport(std::optional<size_t> key) {
    Bytes r(16, 0);
    if (key)
        r[1 + *key / 8] = static_cast<uint8_t>(1u << (*key % 8));
    return r;
}

Bytes signalReport(std::optional<uint8_t> code) {
    Bytes r(10, 0);
    if (code) {
        const int bit = *code - 0x7A;
        r[0] = 1;
        r[1 + bit / 8] = static_cast<uint8_t>(1u << (bit % 8));
    }
    return r;
}

class QXVkbdTest : public ::testing::Test {
protected:
    QXVkbdTest()
        : m_runtime("XDG_RUNTIME_DIR", (m_dir / "run").string()),
          m_platform("QT_QPA_PLATFORM", "offscreen") {
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all);
    }

    fs::path folder() const { return m_dir / "run" / "TesseraQuadrix-virtual"; }
    fs::path keyboard(const std::string& name = "kb") const { return folder() / name; }
    fs::path tessera(const std::string& name = "kb") const {
        return keyboard(name) / "disk" / "vTessera";
    }

    // Starts a keyboard and waits until the program could find it.
    std::unique_ptr<ChildProcess> start(std::vector<std::string> args,
                                        const std::string& name = "kb") {
        args.insert(args.begin(), {kProgram, "--name", name});
        auto child = std::make_unique<ChildProcess>(args);
        EXPECT_TRUE(waitFor([&] { return fs::is_socket(keyboard(name) / "signal.sock"); }))
            << "keyboard " << name << " did not appear";
        return child;
    }

    static ProgramResult vkbd(std::vector<std::string> args) {
        args.insert(args.begin(), kProgram);
        return qxtest::runProgram(args);
    }

    QImage snapshot(const std::string& name = "kb") {
        const fs::path file = m_dir / ("snapshot-" + std::to_string(++m_snapshots) + ".png");
        const ProgramResult r = vkbd({"snapshot", file.string(), "--name", name});
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        return QImage(QString::fromStdString(file.string())).convertToFormat(QImage::Format_RGB888);
    }

    // A pixel of a key's 48 x 48 square, (row, column) from its top left.
    static QColor at(const QImage& image, size_t key, int row = 24, int column = 24) {
        const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(key);
        return image.pixelColor(s.left + column, s.top + row);
    }

    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_runtime;
    qxtest::ScopedEnv m_platform;
    int m_snapshots = 0;
};

TEST_F(QXVkbdTest, TheKeyboardAppearsWholeInOneStepAndGoesAwayAtTheEnd) {
    fs::create_directories(folder());
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(watch, folder().c_str(), IN_CREATE | IN_MOVED_TO);
    ChildProcess child({kProgram, "--name", "kb", "--no-window"});

    // The moment its name appears, everything is there.
    bool appeared = false;
    while (!appeared) {
        pollfd p{watch, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 20000), 1) << "the keyboard did not appear";
        alignas(inotify_event) char buffer[4096];
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        for (ssize_t offset = 0; offset < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            appeared |= event->len && std::string(event->name) == "kb";
            offset += ssize_t(sizeof(inotify_event) + event->len);
        }
        if (appeared) {
            EXPECT_TRUE(fs::is_socket(keyboard() / "signal.sock"));
            EXPECT_TRUE(fs::is_socket(keyboard() / "keys.sock"));
            EXPECT_TRUE(fs::is_socket(keyboard() / "control.sock"));
            EXPECT_TRUE(fs::is_directory(tessera() / "dynamic"));
            EXPECT_EQ(fs::file_size(tessera() / "scancode.sys"), QXDiskFiles::kCodeTableBytes);
        }
    }
    ::close(watch);
    EXPECT_EQ(qxtest::readFile(tessera() / "version.sys"),
              std::string("TesseraV0.80b") + std::string(14, '\0'));
    EXPECT_TRUE(fs::is_empty(tessera() / "dynamic"));
    EXPECT_EQ(fs::status(keyboard() / "control.sock").permissions() &
                  (fs::perms::group_all | fs::perms::others_all),
              fs::perms::none)
        << "the control socket is the owner's alone";

    // Its own code table: each key sends its own code from its slot; all else is silent.
    const std::string codes = qxtest::readFile(tessera() / "scancode.sys");
    std::string expected(QXDiskFiles::kCodeTableBytes, '\xFF');
    for (size_t key = 0; key < QXKeyTable::keyCount(); ++key) {
        if (const uint8_t code = QXKeyTable::key(key).actionCode) {
            expected[(QXKeyTable::key(key).codeSlot - 1) * 64] = 1;
            expected[(QXKeyTable::key(key).codeSlot - 1) * 64 + 1] = static_cast<char>(code);
        }
    }
    EXPECT_EQ(codes, expected);
    EXPECT_EQ(codes.substr((QXKeyTable::key(0).codeSlot - 1) * 64, 2), "\x01\x29") << "Escape";

    // The program's own discovery finds one keyboard with key reports.
    auto discovery = QXDeviceDiscovery::createVirtualBackend(folder());
    auto found = QXDeviceDiscovery::classify(discovery->hubs());
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].volume, keyboard() / "disk");
    EXPECT_FALSE(found[0].keyReportPath.empty());

    const ProgramResult twice = vkbd({"--name", "kb", "--no-window"});
    EXPECT_EQ(twice.exitStatus, 1);
    EXPECT_NE(twice.err.find("already running"), std::string::npos) << twice.err;

    auto old = start({"--old", "--no-window", "--version", "TesseraV0.70b"}, "old");
    found = QXDeviceDiscovery::classify(discovery->hubs());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[1].volume, keyboard("old") / "disk");
    EXPECT_TRUE(found[1].keyReportPath.empty()) << "an older keyboard has no key-report interface";
    EXPECT_EQ(qxtest::readFile(tessera("old") / "version.sys").substr(0, 14),
              std::string("TesseraV0.70b\0", 14));

    child.terminate();
    EXPECT_EQ(child.exitStatus(), 0);
    old->terminate();
    EXPECT_EQ(old->exitStatus(), 0);
    EXPECT_TRUE(fs::is_empty(folder())) << "both keyboards and everything they built are gone";
    EXPECT_TRUE(discovery->hubs().empty());
}

TEST_F(QXVkbdTest, TheDisplaysShowWhatTheProgramWroteTurnedDimmedAndSwitchedOff) {
    auto child = start({}); // with a window, on the offscreen platform
    const size_t escape = keyIndex(u"Escape"), enter = keyIndex(u"KeypadEnter");
    const size_t f1 = keyIndex(u"F1"), f2 = keyIndex(u"F2");
    ASSERT_EQ(QXKeyTable::key(enter).displayNumber, 3);

    writeLikeTheProgram(tessera() / "dynamic" / displayFile(escape), picture(kRed));
    // Stored a quarter turn clockwise: the stored left half is the picture's bottom half.
    writeLikeTheProgram(tessera() / "dynamic" / "003.sys", picture(kRed, kBlue));
    writeLikeTheProgram(tessera() / "dynamic" / displayFile(f1), picture(kGreen));
    Bytes layout(114, 1);
    layout[QXKeyTable::key(f1).displayNumber - 1] = 0;
    writeLikeTheProgram(tessera() / "layout.sys", layout);
    writeLikeTheProgram(tessera() / "order.sys", text(std::string("b050", 5)));

    QImage shot = snapshot();
    ASSERT_EQ(shot.size(), QSize(1312, 376));
    EXPECT_EQ(at(shot, escape), QColor(128, 0, 0)) << "full red at half brightness";
    EXPECT_EQ(at(shot, escape, 0, 0), QColor(128, 0, 0));
    EXPECT_EQ(at(shot, escape, 47, 47), QColor(128, 0, 0));
    EXPECT_EQ(at(shot, enter, 5, 5), QColor(0, 0, 128)) << "turned back: blue on top";
    EXPECT_EQ(at(shot, enter, 42, 42), QColor(128, 0, 0)) << "turned back: red below";
    EXPECT_EQ(at(shot, f1), QColor(0, 0, 0)) << "a display switched off is dark";
    EXPECT_EQ(at(shot, f2), QColor(0, 0, 0)) << "a display never written is dark";

    // Everything outside the key squares is the keyboard template.
    fipImage templ;
    ASSERT_TRUE(QXLayoutPicture::loadTemplate(templ));
    std::vector<bool> inSquare(1312 * 376, false);
    for (size_t key = 0; key < QXKeyTable::keyCount(); ++key) {
        const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(key);
        for (int y = s.top; y < s.top + 48; ++y)
            for (int x = s.left; x < s.left + 48; ++x)
                inSquare[y * 1312 + x] = true;
    }
    int differing = 0;
    for (int y = 0; y < 376; ++y) {
        const BYTE* line = templ.getScanLine(375 - y);
        for (int x = 0; x < 1312; ++x)
            if (!inSquare[y * 1312 + x] &&
                shot.pixelColor(x, y) != QColor(line[x * 3 + FI_RGBA_RED],
                                                line[x * 3 + FI_RGBA_GREEN],
                                                line[x * 3 + FI_RGBA_BLUE]))
                ++differing;
    }
    EXPECT_EQ(differing, 0);

    // Rewritten in place: the new content shows.
    writeLikeTheProgram(tessera() / "dynamic" / displayFile(escape), picture(kGreen));
    writeLikeTheProgram(tessera() / "layout.sys", Bytes(114, 1));
    writeLikeTheProgram(tessera() / "order.sys", text(std::string("b100A", 6)));
    shot = snapshot();
    EXPECT_EQ(at(shot, escape), QColor(0, 255, 0));
    EXPECT_EQ(at(shot, f1), QColor(0, 255, 0)) << "switched on again";
    EXPECT_EQ(at(shot, enter, 5, 5), QColor(0, 0, 255));
    EXPECT_TRUE(child->running());
}

TEST_F(QXVkbdTest, PressingAKeySendsItsReportDownAndUpToWhoeverIsConnected) {
    auto child = start({"--no-window"});
    {
        ReportClient program(keyboard() / "keys.sock");
        ASSERT_TRUE(program.connected());
        const ProgramResult r = vkbd({"press", "Escape", "--name", "kb"});
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_NE(r.out.find("key report sent to 1 program"), std::string::npos) << r.out;
        EXPECT_EQ(program.next(), keyReport(0)) << "down: bit 0 of byte 1";
        EXPECT_EQ(program.next(), keyReport(std::nullopt)) << "up: all zero";
    }
    // The program went away and comes back.
    ReportClient again(keyboard() / "keys.sock");
    ASSERT_TRUE(again.connected());
    const size_t key = 100;
    ASSERT_EQ(vkbd({"press", keyName(key), "--name", "kb"}).exitStatus, 0);
    EXPECT_EQ(again.next(), keyReport(key)) << "byte 13, bit 4";
    EXPECT_EQ(again.next(), keyReport(std::nullopt));

    const ProgramResult noKey = vkbd({"press", "NoSuchKey", "--name", "kb"});
    EXPECT_NE(noKey.exitStatus, 0);
    EXPECT_EQ(noKey.err, "qxvkbd: no key named 'NoSuchKey'\n");
    const ProgramResult noKeyboard = vkbd({"press", "Escape", "--name", "nobody"});
    EXPECT_NE(noKeyboard.exitStatus, 0);
    EXPECT_EQ(std::count(noKeyboard.err.begin(), noKeyboard.err.end(), '\n'), 1) << noKeyboard.err;
    EXPECT_NE(noKeyboard.err.find("'nobody'"), std::string::npos) << noKeyboard.err;
    EXPECT_FALSE(again.next(200)) << "failed presses send nothing";
}

TEST_F(QXVkbdTest, AnOlderKeyboardSignalsAKeyAsTheProgramProgrammedIt) {
    auto child = start({"--old", "--no-window"});
    EXPECT_FALSE(fs::exists(keyboard() / "keys.sock"));
    const size_t key = 25; // 25 = 2 * 11 + 3: digit 3 (0x83) first, then digit 2 (0x81)
    const std::string own = qxtest::readFile(tessera() / "scancode.sys");
    QXDiskFiles::CodeTable table;
    std::memcpy(table.data(), own.data(), table.size());
    QXDiskFiles::setSignallingEntry(table, key);
    writeLikeTheProgram(tessera() / "scancode.sys", Bytes(table.begin(), table.end()));

    ReportClient program(keyboard() / "signal.sock");
    ASSERT_TRUE(program.connected());
    const ProgramResult r = vkbd({"press", keyName(key), "--name", "kb"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("signalled 0x7A 0x83 0x81 to 1 program"), std::string::npos) << r.out;
    for (uint8_t code : {0x7A, 0x83, 0x81}) {
        EXPECT_EQ(program.next(), signalReport(code));
        EXPECT_EQ(program.next(), signalReport(std::nullopt));
    }

    // A plain entry types to the computer; the program hears nothing of it.
    const ProgramResult plain = vkbd({"press", "Escape", "--name", "kb"});
    ASSERT_EQ(plain.exitStatus, 0) << plain.err;
    EXPECT_EQ(plain.out, "Escape: typed 0x29 to the computer; nothing reached the program\n");
    ASSERT_EQ(vkbd({"press", keyName(key), "--name", "kb"}).exitStatus, 0);
    EXPECT_EQ(program.next(), signalReport(0x7A)) << "the next report is the next signalled key";
}

TEST_F(QXVkbdTest, MalformedFilesShowDarkAndNeverStopTheKeyboard) {
    auto child = start({"--no-window"});
    const size_t escape = keyIndex(u"Escape"), f3 = keyIndex(u"F3");
    const fs::path dynamic = tessera() / "dynamic";
    writeLikeTheProgram(dynamic / displayFile(escape), Bytes(100, 0xFF)); // no 512 padding:
    fs::resize_file(dynamic / displayFile(escape), 100);                  // a short picture
    Bytes overlong = picture(kBlue);
    overlong.resize(100000, 0x55);
    qxtest::writeFile(dynamic / displayFile(f3), std::string(overlong.begin(), overlong.end()));
    fs::create_directory(dynamic / "050.sys");
    ASSERT_EQ(::mkfifo((dynamic / "051.sys").c_str(), 0600), 0);
    qxtest::writeFile(dynamic / "999.sys", "x");
    qxtest::writeFile(dynamic / "abc.sys", "x");
    qxtest::writeFile(tessera() / "layout.sys", "\x01\x01");
    qxtest::writeFile(tessera() / "order.sys", "b040");
    qxtest::writeFile(tessera() / "scancode.sys", "\x02\x7A\x04");

    QImage shot = snapshot();
    EXPECT_EQ(at(shot, escape), QColor(0, 0, 0)) << "a short picture is not shown";
    EXPECT_EQ(at(shot, f3), QColor(0, 0, 102)) << "an overlong one shows its first 4608 bytes";
    const ProgramResult press = vkbd({"press", "Escape", "--name", "kb"});
    EXPECT_EQ(press.exitStatus, 0) << press.err;
    EXPECT_EQ(press.out, "Escape: key report sent, but no program is connected\n")
        << "a code table cut short ends the entry";

    // The whole picture folder replaced; unknown commands leave the brightness alone.
    fs::remove_all(dynamic);
    fs::create_directory(dynamic);
    writeLikeTheProgram(dynamic / displayFile(escape), picture(kRed));
    qxtest::writeFile(tessera() / "order.sys", "bxyz");
    shot = snapshot();
    EXPECT_EQ(at(shot, escape), QColor(102, 0, 0)) << "the new folder is watched; still at 40";
    EXPECT_EQ(at(shot, f3), QColor(0, 0, 0)) << "its picture went with the old folder";
    qxtest::writeFile(tessera() / "order.sys", "b999");
    EXPECT_EQ(at(snapshot(), escape), QColor(255, 0, 0)) << "at most full brightness";
    EXPECT_TRUE(child->running());
}

TEST_F(QXVkbdTest, AOneShotSnapshotWaitsForTheProgramToWrite) {
    const fs::path file = m_dir / "once.png";
    auto child = start({"--no-window", "--snapshot", file.string()});
    writeLikeTheProgram(tessera() / "dynamic" / displayFile(0), picture(kBlue));
    ASSERT_TRUE(child->waitForExit());
    EXPECT_EQ(child->exitStatus(), 0);
    QImage shot(QString::fromStdString(file.string()));
    EXPECT_EQ(at(shot, 0), QColor(0, 0, 255));
    EXPECT_FALSE(fs::exists(keyboard())) << "the keyboard went with it";

    const fs::path unwritten = m_dir / "unwritten.png";
    auto idle = start({"--no-window", "--snapshot", unwritten.string(), "--timeout", "1"});
    ASSERT_TRUE(idle->waitForExit());
    EXPECT_EQ(idle->exitStatus(), 3) << "nothing was written in time";
    EXPECT_EQ(at(QImage(QString::fromStdString(unwritten.string())), 0), QColor(0, 0, 0));
}

// A caller of the control socket that sends nothing (yet).
int connectTo(const fs::path& socket) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    return fd;
}

// Whether the other side closed the connection.
bool hungUp(int fd) {
    char byte;
    return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

// The lowest descriptor number a process has free: a limit at it leaves none to spare.
rlim_t lowestFreeDescriptor(pid_t pid) {
    std::vector<int> used;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        used.push_back(std::stoi(entry.path().filename().string()));
    rlim_t fd = 0;
    while (std::find(used.begin(), used.end(), int(fd)) != used.end())
        ++fd;
    return fd;
}

// Processor time a process has used, in clock ticks.
long cpuTicks(pid_t pid) {
    const std::string stat = qxtest::readFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long user = 0, system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            user = std::stol(field);
        if (i == 15)
            system = std::stol(field);
    }
    return user + system;
}

TEST_F(QXVkbdTest, TheControlSocketOutlastsIdleCallersAndRunningOutOfHandles) {
    fs::create_directories(folder());
    const fs::path log = m_dir / "qxvkbd.err";
    ChildProcess child({"/bin/sh", "-c", "exec \"$0\" --name kb --no-window 2>\"$1\"", kProgram,
                        log.string()});
    ASSERT_TRUE(waitFor([&] { return fs::is_socket(keyboard() / "signal.sock"); }));
    const fs::path control = keyboard() / "control.sock";

    // More callers than the keyboard keeps, all silent: a press still gets through, and
    // a silent caller is let go after a while.
    std::vector<int> idle;
    for (int i = 0; i < 20; ++i)
        idle.push_back(connectTo(control));
    const ProgramResult pressed = vkbd({"press", "F1", "--name", "kb"});
    EXPECT_EQ(pressed.exitStatus, 0) << pressed.err;
    EXPECT_TRUE(waitFor([&] { return hungUp(idle.back()); }, std::chrono::seconds(60)));
    for (int fd : idle)
        ::close(fd);

    // Out of file handles, a caller waits in the queue and the keyboard rests.
    rlimit tight{}, saved{};
    ASSERT_EQ(::prlimit(child.pid(), RLIMIT_NOFILE, nullptr, &saved), 0);
    tight = saved;
    tight.rlim_cur = lowestFreeDescriptor(child.pid());
    ASSERT_EQ(::prlimit(child.pid(), RLIMIT_NOFILE, &tight, nullptr), 0);
    const int caller = connectTo(control);
    ASSERT_EQ(::send(caller, "press F2\n", 9, MSG_NOSIGNAL), 9);
    const bool refused = waitFor([&] {
        return qxtest::readFile(log).find("out of file handles") != std::string::npos;
    });
    const long before = cpuTicks(child.pid());
    // A window to measure the processor time in, not a wait for anything: a keyboard
    // spinning on its listener would use all of it.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long used = cpuTicks(child.pid()) - before;
    ASSERT_EQ(::prlimit(child.pid(), RLIMIT_NOFILE, &saved, nullptr), 0);
    ASSERT_TRUE(refused) << qxtest::readFile(log);
    EXPECT_LT(used, ::sysconf(_SC_CLK_TCK) / 4) << "ticks used in one second";

    // Handles free again: the queued caller is answered, and the socket serves on.
    std::string answer;
    EXPECT_TRUE(waitFor([&] {
        char buffer[256];
        const ssize_t n = ::recv(caller, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0)
            answer.append(buffer, size_t(n));
        return answer.find('\n') != std::string::npos;
    }));
    EXPECT_EQ(answer.rfind("ok ", 0), 0u) << answer;
    ::close(caller);
    EXPECT_EQ(vkbd({"press", "F3", "--name", "kb"}).exitStatus, 0);
}

} // namespace
