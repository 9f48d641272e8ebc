// The SysStat figures and pictures from recorded kernel files: processor shares and their
// graph, memory kinds and bar, interface rates and their text.

#include "SysStatFigures.h"

#include "SysStatPictures.h"
#include "SysStatTestSupport.h"
#include "support/QXTestSupport.h"

#include <QDir>
#include <QPainter>
#include <gtest/gtest.h>
#include <string>

using namespace SysStatFigures;
using sysstattest::inkIn;
using sysstattest::kGreen;
using sysstattest::kOrange;
using sysstattest::kRedOrange;

namespace {

// A /proc/stat as the kernel writes it, with the given totals of the "cpu" line.
std::string procStat(uint64_t user, uint64_t nice, uint64_t system, uint64_t idle, uint64_t iowait,
                     uint64_t irq, uint64_t softirq) {
    auto n = [](uint64_t v) { return std::to_string(v); };
    return "cpu  " + n(user) + " " + n(nice) + " " + n(system) + " " + n(idle) + " " + n(iowait) +
           " " + n(irq) + " " + n(softirq) + " 7 0 0\n" +
           "cpu0 1 2 3 4 5 6 7 0 0 0\ncpu1 1 2 3 4 5 6 7 0 0 0\n"
           "intr 1234 5 6\nctxt 99\nbtime 1700000000\nprocesses 812\n";
}

QImage paintedCpu(const CCpuHistory& history) {
    sysstattest::ensureApplication();
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(Qt::white); // the picture covers it all
    QPainter painter(&image);
    SysStatPictures::paintCpu(painter, history);
    painter.end();
    return image;
}

// The graph as it must look: per column, squares from y 46 upwards, the lowest red-orange.
QImage expectedGraph(int squares, int kernelSquares) {
    QImage image(48, 48, QImage::Format_RGB32);
    image.fill(Qt::black);
    for (int k = 0; k < 16; ++k)
        for (int i = 0; i < squares; ++i)
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx)
                    image.setPixelColor(1 + 3 * k + dx, 46 - 3 * i + dy,
                                        i < kernelSquares ? kRedOrange : kGreen);
    return image;
}

// Every pixel of rows from..47 as expected.
void expectRowsEqual(const QImage& actual, const QImage& expected, int from) {
    for (int y = from; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            ASSERT_EQ(actual.pixel(x, y), expected.pixel(x, y)) << "at " << x << "," << y;
}

// The percentage text sits in the top half, centred on (24, 12), in the graph's green.
void expectTextOnTop(const QImage& image, int graphTop) {
    QRect box;
    bool pureGreen = false;
    for (int y = 0; y < graphTop; ++y)
        for (int x = 0; x < 48; ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0) {
                box = box.united(QRect(x, y, 1, 1));
                pureGreen = pureGreen || image.pixelColor(x, y) == kGreen;
            }
    ASSERT_FALSE(box.isEmpty()) << "no text";
    EXPECT_TRUE(pureGreen);
    EXPECT_NEAR(box.center().x(), 24, 3);
    EXPECT_NEAR(box.center().y(), 12, 4);
}

} // namespace

TEST(SysStatCpu, IdleProcessorDrawsOneGreenSquarePerColumnAndZeroPercent) {
    CpuTimes times;
    ASSERT_TRUE(parseProcStat(procStat(5000, 100, 2000, 90000, 300, 10, 20), times));
    CCpuHistory history;
    ASSERT_TRUE(history.add(times));
    EXPECT_EQ(history.newest().load, 7); // since boot: 7130 of 97430 ticks busy
    // Then 16 seconds of idle and waiting for the disk, and nothing else.
    for (int second = 1; second <= 16; ++second) {
        ASSERT_TRUE(parseProcStat(
            procStat(5000, 100, 2000, 90000 + 150 * second, 300 + 50 * second, 10, 20), times));
        ASSERT_TRUE(history.add(times));
    }
    EXPECT_EQ(history.newest().load, 0);
    // The same reading again: no time passed, nothing changes.
    EXPECT_FALSE(history.add(times));

    QImage image = paintedCpu(history);
    expectRowsEqual(image, expectedGraph(1, 0), 24);
    expectTextOnTop(image, 24);
}

TEST(SysStatCpu, FullLoadWithKernel35DrawsElevenSquaresTheLowestThreeRedOrange) {
    CCpuHistory history;
    CpuTimes times;
    // Per second 200 ticks (two processors): user 120 + nice 10, system 40 + irq 10 +
    // softirq 20 = 35 % kernel, no idle.
    for (int second = 0; second <= 16; ++second) {
        uint64_t s = static_cast<uint64_t>(second);
        ASSERT_TRUE(
            parseProcStat(procStat(1000 + 120 * s, 10 * s, 40 * s, 500, 0, 10 * s, 20 * s), times));
        history.add(times);
    }
    EXPECT_EQ(history.newest().load, 100);
    EXPECT_EQ(history.newest().kernel, 35);

    QImage image = paintedCpu(history);
    QImage expected = expectedGraph(11, 3);
    // The squares reach y 16, over the text's lower part: they are painted after it.
    for (int k = 0; k < 16; ++k)
        for (int i = 0; i < 11; ++i)
            ASSERT_EQ(image.pixel(1 + 3 * k, 46 - 3 * i), expected.pixel(1 + 3 * k, 46 - 3 * i));
    expectRowsEqual(image, expected, 24);
    expectTextOnTop(image, 16);
}

TEST(SysStatMem, KindsComeFromMeminfoAndTheBarShowsThePhysicalLoad) {
    const char* meminfo = "MemTotal:        8000000 kB\n"
                          "MemFree:          100000 kB\n"
                          "MemAvailable:    6000000 kB\n"
                          "SwapTotal:       2097148 kB\n"
                          "SwapFree:        1048576 kB\n"
                          "CommitLimit:     6000000 kB\n"
                          "Committed_AS:    7000000 kB\n"
                          "HugePages_Total:       0\n";
    MemInfo info;
    ASSERT_TRUE(parseMeminfo(meminfo, info));
    EXPECT_EQ(availableMiB(info, kPhysical), 5859u);
    EXPECT_EQ(availableMiB(info, kPaging), 1024u);
    EXPECT_EQ(availableMiB(info, kVirtual), 0u); // more committed than the limit
    EXPECT_EQ(physicalLoadPercent(info), 25);
    EXPECT_FALSE(parseMeminfo("SwapFree: 10 kB\n", info)) << "no MemTotal";

    EXPECT_EQ(memoryKindFromText(u"7"), kVirtual);
    EXPECT_EQ(memoryKindFromText(u"-1"), kPhysical);
    EXPECT_EQ(memoryKindFromText(u" 1x"), kPaging);
    EXPECT_EQ(memoryKindFromText(u"paging"), kPhysical);

    sysstattest::ensureApplication();
    QImage image(48, 48, QImage::Format_RGB32);
    QPainter painter(&image);
    SysStatPictures::paintMem(painter, 5859, 25);
    painter.end();
    for (int y = 44; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            ASSERT_EQ(image.pixelColor(x, y), x < 12 ? kOrange : kGreen) << x << "," << y;
    EXPECT_EQ(inkIn(image, QRect(0, 40, 48, 4)), 0);
    EXPECT_GT(inkIn(image, QRect(0, 14, 48, 20)), 20) << "no text in the middle";

    // A big machine's figure still fits across the key, whole.
    painter.begin(&image);
    SysStatPictures::paintMem(painter, 1234567, 25);
    painter.end();
    EXPECT_GT(inkIn(image, QRect(0, 14, 48, 20)), 20);
    EXPECT_EQ(inkIn(image, QRect(0, 0, 1, 44)) + inkIn(image, QRect(47, 0, 1, 44)), 0)
        << "the text runs off the key";
}

TEST(SysStatNet, RatesAverageAndACounterGoingBackHalvesTheRate) {
    const char* first =
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets "
        "errs drop fifo colls carrier compressed\n"
        "    lo:  500000    100    0    0    0     0          0         0   500000     100    "
        "0    0    0     0       0          0\n"
        "  eth0: 1000000   2000    0    0    0     0          0         0   200000    1000    "
        "0    0    0     0       0          0\n";
    std::vector<InterfaceCounters> interfaces;
    parseNetDev(first, interfaces);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[1].name, "eth0");
    EXPECT_EQ(interfaces[1].received, 1000000u);
    EXPECT_EQ(interfaces[1].sent, 200000u);

    CAdapterTable table;
    table.update(interfaces, 5000);
    EXPECT_EQ(table.rates("eth0").received, 0u) << "a new interface starts at rate 0";
    // Two seconds later: 400000 received and 80000 sent by eth0, 1 MB through loopback.
    table.update({{"lo", 1500000, 1500000}, {"eth0", 1400000, 280000}}, 7000);
    EXPECT_EQ(table.rates("eth0").received, 100000u); // (200000 + 0) / 2
    EXPECT_EQ(table.rates("eth0").sent, 20000u);
    EXPECT_EQ(table.rates("lo").received, 250000u);
    EXPECT_EQ(table.rates("").received, 100000u) << "all adapters leave loopback out";
    EXPECT_EQ(table.rates("wlan0").received, 0u);
    // eth0 was reset: its counters start again near 0.
    table.update({{"lo", 1500000, 1500000}, {"eth0", 300, 100}}, 8000);
    EXPECT_EQ(table.rates("eth0").received, 50000u);
    EXPECT_EQ(table.rates("eth0").sent, 10000u);
    EXPECT_EQ(table.names(), (std::vector<std::string>{"eth0", "lo"}));

    EXPECT_EQ(formatRate(1023), "1023 B/s");
    EXPECT_EQ(formatRate(1024), "1 KB/s");
    EXPECT_EQ(formatRate(0xFFFFF), "1023 KB/s");
    EXPECT_EQ(formatRate(1048576), "1 MB/s");
    EXPECT_EQ(formatRate(0x3FFFFFFF), "1023 MB/s");
    EXPECT_EQ(formatRate(1ull << 30), "1 GB/s");
    EXPECT_EQ(formatRate(5000ull << 30), "5000 GB/s");
}

// The picture for people (docs/screenshots/sysstat-keys.png): the three keys from recorded
// figures, twice their size. Into the sources only when QX_UPDATE_SCREENSHOTS (or
// QX_SCREENSHOTS) is set, otherwise into a scratch folder.
TEST(SysStatPictures, KeysForPeople) {
    sysstattest::ensureApplication();
    CCpuHistory history;
    CpuTimes times;
    uint64_t user = 0, system = 0, idle = 0;
    for (int second = 0; second < 17; ++second) {
        // A build starts, runs and ends: load rising to 90 %, a fifth of it in the kernel.
        int load = second < 4 ? 5 : second < 13 ? 40 + 5 * (second - 4) : 10;
        user += static_cast<uint64_t>(load * 8 / 10);
        system += static_cast<uint64_t>(load * 2 / 10);
        idle += static_cast<uint64_t>(100 - load);
        ASSERT_TRUE(parseProcStat(procStat(user, 0, system, idle, 0, 0, 0), times));
        history.add(times);
    }
    MemInfo info;
    ASSERT_TRUE(parseMeminfo("MemTotal: 16303400 kB\nMemAvailable: 9502720 kB\n", info));

    QImage keys[3];
    for (QImage& key : keys)
        key = QImage(48, 48, QImage::Format_RGB32);
    QPainter painter;
    painter.begin(&keys[0]);
    SysStatPictures::paintCpu(painter, history);
    painter.end();
    painter.begin(&keys[1]);
    SysStatPictures::paintMem(painter, availableMiB(info, kPhysical), physicalLoadPercent(info));
    painter.end();
    painter.begin(&keys[2]);
    SysStatPictures::paintNet(painter, 734003, 18432);
    painter.end();

    QImage shot(8 + 104 * 3, 112, QImage::Format_RGB32);
    shot.fill(QColor(64, 64, 64));
    painter.begin(&shot);
    for (int i = 0; i < 3; ++i)
        painter.drawImage(QRect(8 + 104 * i, 8, 96, 96), keys[i]);
    painter.end();

    bool forPeople = qEnvironmentVariableIsSet("QX_UPDATE_SCREENSHOTS") ||
                     qEnvironmentVariableIsSet("QX_SCREENSHOTS");
    qxtest::TempDir scratch;
    QString folder = forPeople ? QStringLiteral(QX_SOURCE_DIR "/docs/screenshots")
                               : QString::fromStdString(scratch.path().string());
    QDir().mkpath(folder);
    EXPECT_TRUE(shot.save(folder + QStringLiteral("/sysstat-keys.png")));
}
