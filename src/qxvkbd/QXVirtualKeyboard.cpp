#include "QXVirtualKeyboard.h"

#include "QXControlServer.h"
#include "QXDiskWatcher.h"
#include "platform/QXLocalSocket.h"
#include "platform/QXLog.h"
#include "QXReportServer.h"
#include "device/QXDiskFiles.h"

#include <QSaveFile>
#include <QString>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

bool writeBytes(const fs::path& path, const void* data, size_t size, std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
        error = "cannot write " + path.string();
        return false;
    }
    return true;
}

std::string hexCodes(const std::vector<uint8_t>& codes) {
    std::string text;
    for (uint8_t code : codes) {
        char one[8];
        std::snprintf(one, sizeof one, "%s0x%02X", text.empty() ? "" : " ", code);
        text += one;
    }
    return text;
}

std::string programs(int count) {
    return std::to_string(count) + (count == 1 ? " program" : " programs");
}

// A name that is one plain folder name; staging folders start with a dot, so keyboard
// names may not.
bool validName(const std::string& name) {
    return !name.empty() && name.size() <= 64 && name[0] != '.' &&
           name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

} // namespace

QXVirtualKeyboard::QXVirtualKeyboard(QObject* parent) : QObject(parent) {}

QXVirtualKeyboard::~QXVirtualKeyboard() {
    takeAway();
}

bool QXVirtualKeyboard::running(const fs::path& keyboardFolder) {
    std::string ignored;
    const int fd = QXLocalSocket::connectTo(keyboardFolder / "control.sock", SOCK_STREAM, ignored);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool QXVirtualKeyboard::start(const Options& options, std::string& error) {
    m_options = options;
    if (!validName(options.name)) {
        error = "a keyboard name is one folder name without '/' that does not start with '.'";
        return false;
    }
    if (options.version.empty() || options.version.size() >= QXDiskFiles::kVersionBytes ||
        options.version.find('\0') != std::string::npos) {
        error = "the version text must have 1 to " +
                std::to_string(QXDiskFiles::kVersionBytes - 1) + " characters";
        return false;
    }
    std::error_code ec;
    fs::create_directories(options.folder, ec);
    if (ec) {
        error = "cannot create " + options.folder.string() + ": " + ec.message();
        return false;
    }
    const fs::path target = options.folder / options.name;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (fs::exists(status)) {
        if (running(target)) {
            error = "a virtual keyboard named '" + options.name + "' is already running in " +
                    options.folder.string();
            return false;
        }
        // What a keyboard that was killed left behind may go; anything else stays.
        if (!fs::is_directory(status) || !fs::is_directory(target / "disk", ec)) {
            error = target.string() + " is in the way and is not a virtual keyboard";
            return false;
        }
        fs::remove_all(target, ec);
    }

    // Built aside and renamed into place, so the program never sees half a keyboard.
    const fs::path staging = options.folder / (".new-" + std::to_string(::getpid()));
    fs::remove_all(staging, ec);
    if (::mkdir(staging.c_str(), 0700) != 0) {
        error = "cannot create " + staging.string() + ": " + std::strerror(errno);
        return false;
    }
    const fs::path inner = staging / options.name;
    bool built = makeFolder(inner, error);
    if (built) {
        // Watching starts before the keyboard can be found, so the first write is seen.
        m_displays = std::make_unique<QXVirtualDisplays>(target / "disk" / "vTessera");
        if (!m_displays->loadTemplate())
            QXLog::warning(QXLog::kDevice, "the keyboard template cannot be read; drawing on grey");
        m_watcher = new QXDiskWatcher(target / "disk", *m_displays, this);
        connect(m_watcher, &QXDiskWatcher::changed, this, &QXVirtualKeyboard::pictureChanged);
        built = m_watcher->start(inner / "disk");
        if (!built)
            error = "cannot watch the keyboard's disk: " + std::string(std::strerror(errno));
    }
    if (built && ::rename(inner.c_str(), target.c_str()) != 0)
        error = "cannot create " + target.string() + ": " + std::strerror(errno);
    else if (built)
        m_path = target;
    fs::remove_all(staging, ec);
    if (m_path.empty()) {
        takeAway();
        return false;
    }
    return true;
}

bool QXVirtualKeyboard::makeFolder(const fs::path& inner, std::string& error) {
    std::error_code ec;
    const fs::path tessera = inner / "disk" / "vTessera";
    if (::mkdir(inner.c_str(), 0700) != 0 || !fs::create_directories(tessera / "dynamic", ec)) {
        error = "cannot create " + tessera.string();
        return false;
    }
    std::array<char, QXDiskFiles::kVersionBytes> version{};
    std::memcpy(version.data(), m_options.version.data(), m_options.version.size());
    // The keyboard's own code table: every key sends its own code.
    QXDiskFiles::CodeTable codes;
    codes.fill(0xFF);
    for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
        if (const uint8_t code = QXKeyTable::key(key).actionCode)
            QXDiskFiles::setPlainEntry(codes, key, code);
    if (!writeBytes(tessera / "version.sys", version.data(), version.size(), error) ||
        !writeBytes(tessera / "scancode.sys", codes.data(), codes.size(), error))
        return false;

    // Sockets last, and "signal.sock" (the one discovery requires) very last.
    m_control =
        new QXControlServer([this](const std::string& r) { return handleControl(r); }, this);
    if (!m_control->listen(inner / "control.sock", error))
        return false;
    if (m_options.keyReports) {
        m_keys = new QXReportServer(this);
        if (!m_keys->listen(inner / "keys.sock", error))
            return false;
    }
    m_signal = new QXReportServer(this);
    return m_signal->listen(inner / "signal.sock", error);
}

void QXVirtualKeyboard::takeAway() {
    std::error_code ec;
    fs::path remove = m_path;
    if (!m_path.empty()) {
        // One rename, so the program sees the whole keyboard go at once; into a folder of
        // its own, so the moved keyboard is not found again under another name.
        const fs::path away = m_options.folder / (".gone-" + std::to_string(::getpid()));
        fs::remove_all(away, ec);
        if (::mkdir(away.c_str(), 0700) == 0 &&
            ::rename(m_path.c_str(), (away / m_options.name).c_str()) == 0)
            remove = away;
        else
            fs::remove_all(away, ec);
    }
    for (QXReportServer* server : {m_signal, m_keys})
        if (server)
            server->close();
    if (m_control)
        m_control->close();
    delete m_watcher;
    m_watcher = nullptr;
    if (!remove.empty())
        fs::remove_all(remove, ec);
    m_path.clear();
}

QImage QXVirtualKeyboard::picture() {
    m_watcher->drain();
    const std::vector<uint8_t> rgb = m_displays->compose();
    QImage image(QXVirtualDisplays::kWidth, QXVirtualDisplays::kHeight, QImage::Format_RGB888);
    const size_t line = static_cast<size_t>(QXVirtualDisplays::kWidth) * 3;
    for (int y = 0; y < QXVirtualDisplays::kHeight; ++y)
        std::memcpy(image.scanLine(y), rgb.data() + static_cast<size_t>(y) * line, line);
    return image;
}

bool QXVirtualKeyboard::writeSnapshot(const std::string& file, std::string& error) {
    const QImage image = picture();
    QSaveFile out(QString::fromStdString(file));
    if (!out.open(QIODevice::WriteOnly) || !image.save(&out, "PNG") || !out.commit()) {
        error = "cannot write " + file + ": " + out.errorString().toStdString();
        return false;
    }
    return true;
}

std::array<uint8_t, 64> QXVirtualKeyboard::entry(size_t key) const {
    std::array<uint8_t, 64> steps;
    steps.fill(0xFF);
    const auto table = QXVirtualDisplays::readPrefix(m_path / "disk" / "vTessera" / "scancode.sys",
                                                     QXDiskFiles::kCodeTableBytes);
    const size_t offset = (QXKeyTable::key(key).codeSlot - 1u) * QXDiskFiles::kEntryBytes;
    // A table cut short reads as 0xFF, which ends the entry.
    for (size_t i = 0; table && i < steps.size() && offset + i < table->size(); ++i)
        steps[i] = (*table)[offset + i];
    return steps;
}

int QXVirtualKeyboard::sendSignalReport() {
    // Report id 1 and the bitmap of held codes; the release of the last one is all zero.
    std::array<uint8_t, 10> report{};
    if (m_signalHeld.any()) {
        report[0] = 0x01;
        for (int p = 0; p < kSignalCodes; ++p)
            if (m_signalHeld[static_cast<size_t>(p)])
                report[1 + p / 8] |= static_cast<uint8_t>(1u << (p % 8));
    }
    return m_signal->send(report);
}

void QXVirtualKeyboard::pressCode(size_t key, uint8_t code, Account& account) {
    if (code < kFirstSignalCode || code >= kFirstSignalCode + kSignalCodes) {
        account.typed.push_back(code);
        return;
    }
    const size_t bit = code - kFirstSignalCode;
    if (m_signalHeld[bit])
        return;
    m_signalHeld[bit] = true;
    m_codesOfKey[key].push_back(code);
    account.signalled.push_back(code);
    account.signalReached = sendSignalReport();
}

void QXVirtualKeyboard::releaseCode(uint8_t code, Account&) {
    if (code < kFirstSignalCode || code >= kFirstSignalCode + kSignalCodes)
        return;
    const size_t bit = code - kFirstSignalCode;
    if (!m_signalHeld[bit])
        return;
    m_signalHeld[bit] = false;
    sendSignalReport();
}

void QXVirtualKeyboard::keyDown(size_t key, Account& account) {
    if (key >= QXKeyTable::keyCount() || m_keysDown[key])
        return;
    m_keysDown[key] = true;
    if (m_keys) {
        std::array<uint8_t, 16> report{};
        for (size_t k = 0; k < QXKeyTable::keyCount(); ++k)
            if (m_keysDown[k])
                report[1 + k / 8] |= static_cast<uint8_t>(1u << (k % 8));
        account.keyReport = true;
        account.keyReportReached = m_keys->send(report);
    }
    // Steps until the first type 0xFF: 1 an ordinary key (held while the key is), 2 press,
    // 4 release; any other type is skipped.
    const std::array<uint8_t, 64> steps = entry(key);
    for (size_t i = 0; i + 1 < steps.size() && steps[i] != 0xFF; i += 2) {
        if (steps[i] == 1 || steps[i] == 2)
            pressCode(key, steps[i + 1], account);
        else if (steps[i] == 4)
            releaseCode(steps[i + 1], account);
    }
}

void QXVirtualKeyboard::keyUp(size_t key, Account& account) {
    if (key >= QXKeyTable::keyCount() || !m_keysDown[key])
        return;
    m_keysDown[key] = false;
    if (m_keys) {
        std::array<uint8_t, 16> report{};
        for (size_t k = 0; k < QXKeyTable::keyCount(); ++k)
            if (m_keysDown[k])
                report[1 + k / 8] |= static_cast<uint8_t>(1u << (k % 8));
        m_keys->send(report);
    }
    // Whatever the entry left held (an ordinary key, or a press without its release) is
    // let go, so one bad entry cannot leave a code stuck.
    for (uint8_t code : std::exchange(m_codesOfKey[key], {}))
        releaseCode(code, account);
}

std::string QXVirtualKeyboard::press(size_t key) {
    Account account;
    keyDown(key, account);
    keyUp(key, account);
    return describe(key, account, hasKeyReports());
}

std::string QXVirtualKeyboard::describe(size_t key, const Account& account, bool keyReports) {
    const std::u16string_view name = QXKeyTable::key(key).name;
    std::string text =
        QString::fromUtf16(name.data(), static_cast<qsizetype>(name.size())).toStdString() + ":";
    std::string separator = " ";
    auto add = [&](const std::string& part) {
        text += separator + part;
        separator = "; ";
    };
    if (keyReports)
        add(account.keyReportReached ? "key report sent to " + programs(account.keyReportReached)
                                     : "key report sent, but no program is connected");
    if (!account.signalled.empty())
        add("signalled " + hexCodes(account.signalled) +
            (account.signalReached ? " to " + programs(account.signalReached)
                                   : ", but no program is connected"));
    if (!account.typed.empty())
        add("typed " + hexCodes(account.typed) + " to the computer");
    if (!keyReports && account.signalled.empty())
        add(account.typed.empty() ? "the key's entry is empty; nothing reached the program"
                                  : "nothing reached the program");
    return text;
}

std::string QXVirtualKeyboard::handleControl(const std::string& request) {
    const size_t space = request.find(' ');
    const std::string verb = request.substr(0, space);
    const std::string argument = space == std::string::npos ? "" : request.substr(space + 1);
    if (verb == "press") {
        const auto key =
            QXKeyTable::findKeyByName(QString::fromStdString(argument).toStdU16String());
        if (!key)
            return "error no key named '" + argument + "'";
        return "ok " + press(*key);
    }
    if (verb == "snapshot") {
        if (argument.empty() || argument[0] != '/')
            return "error snapshot needs an absolute file name";
        std::string error;
        return writeSnapshot(argument, error) ? "ok " + argument : "error " + error;
    }
    return "error unknown request '" + verb + "'";
}
