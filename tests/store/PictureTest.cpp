#include "platform/QXLog.h"
#include "store/QXImage.h"
#include "store/QXPictureDecoder.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using qxtest::TempDir;

namespace {

void put16le(std::string& s, unsigned v) {
    s += char(v & 0xFF), s += char(v >> 8);
}
void put32le(std::string& s, unsigned v) {
    put16le(s, v & 0xFFFF), put16le(s, v >> 16);
}
void put16be(std::string& s, unsigned v) {
    s += char(v >> 8), s += char(v & 0xFF);
}
void put32be(std::string& s, unsigned v) {
    put16be(s, v >> 16), put16be(s, v & 0xFFFF);
}

// Small files whose headers claim a picture of w x h pixels.
std::string gif(unsigned screenW, unsigned screenH, unsigned frameW, unsigned frameH) {
    std::string s = "GIF89a";
    put16le(s, screenW), put16le(s, screenH);
    s += std::string("\0\0\0", 3); // no global colour table
    s += "\x21\xF9\x04";           // a graphic control extension before the frame
    s += std::string("\0\0\0\0\0", 5);
    s += ',';
    put16le(s, 0), put16le(s, 0), put16le(s, frameW), put16le(s, frameH);
    s += std::string("\0\x02\x02\x44\x01\0;", 7);
    return s;
}

std::string psd(unsigned w, unsigned h) {
    std::string s = "8BPS";
    put16be(s, 1);
    s += std::string(6, '\0');
    put16be(s, 3), put32be(s, h), put32be(s, w), put16be(s, 8), put16be(s, 3);
    s += std::string(14, '\0'); // empty mode data, resources and layers; raw pixels
    return s;
}

std::string bmp(unsigned w, unsigned h) {
    std::string s = "BM";
    put32le(s, 54 + 16), put32le(s, 0), put32le(s, 54);
    put32le(s, 40), put32le(s, w), put32le(s, h), put16le(s, 1), put16le(s, 24);
    for (int i = 0; i < 6; ++i)
        put32le(s, 0);
    return s + std::string(16, '\0');
}

std::string tiff(unsigned w, unsigned h) {
    std::string s = "II*";
    s += '\0';
    put32le(s, 8);
    const unsigned entries[][4] = {{256, 4, 1, w},   {257, 4, 1, h}, {258, 3, 1, 8},
                                   {259, 3, 1, 1},   {262, 3, 1, 1}, {273, 4, 1, 8},
                                   {277, 3, 1, 1},   {278, 4, 1, h}, {279, 4, 1, 1}};
    put16le(s, 9);
    for (const auto& e : entries) {
        put16le(s, e[0]), put16le(s, e[1]), put32le(s, e[2]);
        if (e[1] == 3)
            put16le(s, e[3]), put16le(s, 0);
        else
            put32le(s, e[3]);
    }
    put32le(s, 0);
    return s;
}

std::string sgi(unsigned w, unsigned h) {
    std::string s;
    put16be(s, 474);
    s += "\0\x01";
    put16be(s, 2), put16be(s, w), put16be(s, h), put16be(s, 1);
    return s + std::string(512 - 12, '\0');
}

unsigned crc32(const std::string& bytes) {
    unsigned crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

std::string png(unsigned w, unsigned h) {
    std::string ihdr = "IHDR";
    put32be(ihdr, w), put32be(ihdr, h);
    ihdr += std::string("\x08\x02\0\0\0", 5);
    std::string s = "\x89PNG\r\n\x1A\n";
    put32be(s, 13);
    s += ihdr;
    put32be(s, crc32(ihdr));
    const std::string idat("IDAT\x78\x9c\x03\0\0\0\0\x01", 12);
    put32be(s, 8);
    s += idat;
    put32be(s, crc32(idat));
    put32be(s, 0);
    s += "IEND";
    put32be(s, crc32("IEND"));
    return s;
}

// Runs body in a child whose address space may grow by at most budget bytes, so a picture
// bomb that gets through fails the test instead of exhausting the machine; returns what
// body returned, or why the child did not finish.
std::string inLimitedChild(const std::function<std::string()>& body, unsigned long long budget) {
    unsigned long long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%llu", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    const unsigned long long limit = pages * ::sysconf(_SC_PAGESIZE) + budget;
    int fds[2];
    if (::pipe(fds) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        rlimit space{limit, limit};
        ::setrlimit(RLIMIT_AS, &space);
        const std::string out = body();
        const bool ok = ::write(fds[1], out.data(), out.size()) == ssize_t(out.size());
        ::_exit(ok ? 0 : 1);
    }
    ::close(fds[1]);
    std::string out;
    char buffer[4096];
    for (;;) {
        pollfd pfd{fds[0], POLLIN, 0};
        if (::poll(&pfd, 1, 120'000) <= 0) {
            out += "[the child hung]";
            ::kill(child, SIGKILL);
            break;
        }
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        out += "[the child died]";
    return out;
}

// Collects the warnings logged while it lives.
struct LogCapture {
    std::string lines;
    QXLog::Sink previous;
    LogCapture() {
        previous = QXLog::setSink([this](QXLogLevel, const char*, std::string_view message) {
            lines.append(message).append("\n");
        });
    }
    ~LogCapture() { QXLog::setSink(previous); }
};

TEST(QXPicture, BombsAndForeignFormatsNamedPngAreRefusedFromTheirHeadersWithTheReason) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"gif-screen", gif(60000, 60000, 1, 1), "claims 60000 x 60000"},
        {"gif-frame", gif(1, 1, 60000, 60000), "claims 60000 x 60000"},
        {"psd", psd(30000, 30000), "claims 30000 x 30000"}, // the format's largest
        {"bmp", bmp(60000, 60000), "claims 60000 x 60000"},
        {"tiff", tiff(60000, 60000), "claims 60000 x 60000"},
        {"png", png(60000, 60000), "claims 60000 x 60000"},
        {"xbm", "#define a_width 60000\n#define a_height 60000\nstatic char a_bits[] = {0};\n",
         "key pictures are read from"},
        {"sgi", sgi(60000, 60000), "key pictures are read from"},
    };
    for (const Case& c : cases)
        qxtest::writeFile(dir / (std::string(c.name) + ".png"), c.bytes);
    fipImage small(FIT_BITMAP, 48, 48, 24);
    ASSERT_TRUE(small.save((dir / "small.png").c_str()));

    const std::string out = inLimitedChild(
        [&] {
            std::string result;
            for (const Case& c : cases) {
                LogCapture log;
                QXImage image;
                const bool loaded = image.loadFile(dir / (std::string(c.name) + ".png"));
                result += std::string(c.name) + (loaded ? " loaded: " : " refused: ") + log.lines;
            }
            QXImage image;
            result += image.loadFile(dir / "small.png") ? "small loaded\n" : "small refused\n";
            return result;
        },
        512ULL << 20);
    for (const Case& c : cases)
        EXPECT_NE(out.find(std::string(c.name) + " refused: picture " + (dir / c.name).string() +
                           ".png not read: "),
                  std::string::npos)
            << c.name << " was not refused with a warning:\n"
            << out;
    for (const Case& c : cases) {
        const size_t at = out.find(std::string(c.name) + " refused");
        const size_t end = out.find('\n', at);
        EXPECT_NE(out.substr(at, end - at).find(c.reason), std::string::npos)
            << c.name << " is refused before decoding, for its header:\n"
            << out;
    }
    EXPECT_NE(out.find("small loaded"), std::string::npos)
        << "an ordinary picture still loads under the same limit:\n"
        << out;
}

TEST(QXPicture, ADecoderThatOutgrowsItsBudgetIsStoppedAndThePictureRefused) {
    // Four million pixels of 16-bit colour with alpha: within the pixel cap, but its
    // decoding needs far more than 8 MiB.
    fipImage wide(FIT_RGBA16, 2000, 2000, 64);
    fipMemoryIO encoded;
    ASSERT_TRUE(wide.saveToMemory(FIF_PNG, encoded));
    BYTE* data = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(encoded.acquire(&data, &size));
    fipImage picture;
    std::string refusal;
    EXPECT_FALSE(QXPictureDecoder::decode({data, size}, picture, refusal, 8ULL << 20));
    EXPECT_NE(refusal.find("more than 8 MiB"), std::string::npos) << refusal;
    EXPECT_FALSE(picture.isValid());
    EXPECT_TRUE(QXPictureDecoder::decode({data, size}, picture, refusal)) << refusal;
    EXPECT_EQ(picture.getWidth(), 2000u);
    EXPECT_EQ(picture.getBitsPerPixel(), 32u) << "16-bit colour with alpha becomes 8-bit RGBA";
}

// Many pictures in flight at once: each answer lands on its own picture, a refusal
// stays with its picture, and after a picture that brought the decoder down the rest are
// still decoded.
TEST(QXPicture, PicturesDecodedTogetherEachGetTheirOwnPixelsWhateverHappensBetween) {
    auto encode = [](fipImage& picture) {
        fipMemoryIO memory;
        EXPECT_TRUE(picture.saveToMemory(FIF_PNG, memory));
        BYTE* data = nullptr;
        DWORD size = 0;
        memory.acquire(&data, &size);
        return std::string(reinterpret_cast<const char*>(data), size);
    };
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) {
        fipImage key(FIT_BITMAP, 48, 48, 24);
        for (unsigned y = 0; y < 48; ++y)
            std::fill_n(key.getScanLine(y), 48 * 3, BYTE(i * 5));
        files.push_back(encode(key));
    }
    fipImage wide(FIT_RGBA16, 2000, 2000, 64);
    const std::string bomb = encode(wide);
    const std::string truncated = files[0].substr(0, files[0].size() / 2);
    files[7] = "not a picture at all";
    files[12] = truncated;
    files[20] = bomb;

    std::vector<fipImage> pictures(files.size());
    std::vector<QXPictureDecoder::Job> jobs;
    for (size_t i = 0; i < files.size(); ++i)
        jobs.push_back({{reinterpret_cast<const unsigned char*>(files[i].data()), files[i].size()}, &pictures[i], {}});
    QXPictureDecoder::decodeMany(jobs, 8ULL << 20);

    for (size_t i = 0; i < files.size(); ++i) {
        if (i == 7 || i == 12 || i == 20) {
            EXPECT_FALSE(jobs[i].refusal.empty()) << i;
            EXPECT_FALSE(pictures[i].isValid()) << i;
            continue;
        }
        ASSERT_TRUE(jobs[i].refusal.empty()) << i << ": " << jobs[i].refusal;
        ASSERT_EQ(pictures[i].getWidth(), 48u) << i;
        RGBQUAD pixel{};
        pictures[i].getPixelColor(10, 10, &pixel);
        EXPECT_EQ(pixel.rgbRed, BYTE(i * 5)) << "picture " << i << " got another's pixels";
    }
    EXPECT_NE(jobs[20].refusal.find("more than 8 MiB"), std::string::npos) << jobs[20].refusal;
}

// Every kind of picture FreeImage reads reaches a key as 8-bit colour laid over the key's
// black background: what a transparent pixel stores never shows.
template <typename Pixel>
void fill(fipImage& picture, Pixel value) {
    for (unsigned y = 0; y < picture.getHeight(); ++y)
        std::fill_n(reinterpret_cast<Pixel*>(picture.getScanLine(y)), picture.getWidth(), value);
}

TEST(QXPicture, EveryImageTypeIsReadAsStandardColourAndShownOverBlack) {
    TempDir dir;
    struct Case {
        const char* file;
        fipImage picture;
        std::function<void(fipImage&)> paint;
        unsigned red, green, blue; // what the key shows in its first column
    };
    std::vector<Case> cases;
    cases.push_back({"grey16.png", fipImage(FIT_UINT16, 48, 48, 16),
                     [](fipImage& p) { fill<WORD>(p, 0x8080); },
                     128, 128, 128});
    cases.push_back({"rgba16.png", fipImage(FIT_RGBA16, 48, 48, 64),
                     [](fipImage& p) { fill<FIRGBA16>(p, {65535, 0, 65535, 32768}); },
                     128, 0, 128});
    cases.push_back({"rgbaf.tif", fipImage(FIT_RGBAF, 48, 48, 128),
                     [](fipImage& p) { fill<FIRGBAF>(p, {0.0f, 1.0f, 0.0f, 0.25f}); },
                     0, 64, 0});
    cases.push_back({"float.tif", fipImage(FIT_FLOAT, 48, 48, 32),
                     [](fipImage& p) { fill<float>(p, 0.5f); },
                     128, 128, 128});
    // A palette whose white entry is transparent, as icons on a white background are.
    cases.push_back({"palette.png", fipImage(FIT_BITMAP, 48, 48, 8),
                     [](fipImage& p) {
                         p.getPalette()[0] = RGBQUAD{255, 255, 255, 0};
                         p.getPalette()[1] = RGBQUAD{0, 0, 200, 0};
                         BYTE table[2] = {0, 255};
                         p.setTransparencyTable(table, 2);
                         for (unsigned y = 0; y < 48; ++y)
                             p.getScanLine(y)[1] = 1;
                     },
                     0, 0, 0});
    cases.push_back({"gradient.png", fipImage(FIT_BITMAP, 48, 48, 32),
                     [](fipImage& p) {
                         for (unsigned y = 0; y < 48; ++y)
                             for (unsigned x = 0; x < 4; ++x) {
                                 RGBQUAD white{255, 255, 255, BYTE(x * 85)};
                                 p.setPixelColor(x, y, &white);
                             }
                     },
                     0, 0, 0});
    for (Case& c : cases) {
        c.paint(c.picture);
        ASSERT_TRUE(c.picture.save((dir / c.file).c_str())) << c.file;
        QXImage image;
        ASSERT_TRUE(image.loadFile(dir / c.file)) << c.file;
        EXPECT_EQ(image.getImageType(), FIT_BITMAP) << c.file;
        image.ensureKeySize();
        fipImage shown(image);
        ASSERT_TRUE(QXImage::to24Bits(shown)) << c.file;
        ASSERT_EQ(shown.getBitsPerPixel(), 24u);
        const BYTE* p = shown.getScanLine(0);
        EXPECT_EQ((std::vector<unsigned>{p[FI_RGBA_RED], p[FI_RGBA_GREEN], p[FI_RGBA_BLUE]}),
                  (std::vector<unsigned>{c.red, c.green, c.blue}))
            << c.file;
    }
    // The palette's opaque entry and the gradient's steps keep their weight.
    QXImage palette, gradient;
    ASSERT_TRUE(palette.loadFile(dir / "palette.png") && QXImage::to24Bits(palette));
    EXPECT_EQ(palette.getScanLine(0)[3 + FI_RGBA_RED], 200);
    ASSERT_TRUE(gradient.loadFile(dir / "gradient.png") && QXImage::to24Bits(gradient));
    for (unsigned x = 0; x < 4; ++x)
        EXPECT_EQ(gradient.getScanLine(0)[x * 3 + FI_RGBA_GREEN], x * 85) << "alpha-weighted";
}

} // namespace
