#pragma once

#include "QXVirtualDisplays.h"
#include "model/QXKeyTable.h"

#include <QImage>
#include <QObject>
#include <array>
#include <bitset>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

class QXControlServer;
class QXDiskWatcher;
class QXReportServer;

// A keyboard without hardware, as the program finds it (see QXDeviceDiscovery): the folder
// <folder>/<name>/ holding "disk/vTessera" with the keyboard's files, the listening
// sockets "signal.sock" (signalling keys) and, unless it is an older keyboard, "keys.sock"
// (key reports), plus "control.sock" for qxvkbd's own commands. The folder appears whole,
// by one rename, and disappears the same way when the object goes. GUI thread only.
class QXVirtualKeyboard : public QObject {
    Q_OBJECT
public:
    struct Options {
        std::filesystem::path folder; // where keyboards appear
        std::string name;             // the keyboard's folder name
        std::string version;          // "version.sys", at most 26 bytes
        bool keyReports = true;       // false: an older keyboard with signalling keys only
    };

    // What pressing or releasing a key sent, for the person or script that asked.
    struct Account {
        bool keyReport = false;         // a key report went out
        int keyReportReached = 0;       // programs that received it
        std::vector<uint8_t> signalled; // codes sent on the signalling interface
        int signalReached = 0;
        std::vector<uint8_t> typed; // codes a real keyboard would type to the computer
    };

    static constexpr const char* kDefaultVersion = "TesseraV0.80b";

    explicit QXVirtualKeyboard(QObject* parent = nullptr);
    // Takes the keyboard away: the folder vanishes first, then the sockets close.
    ~QXVirtualKeyboard() override;

    // Builds the folder and starts serving; false with a message (nothing left behind)
    // when the name is taken by a running keyboard or the folder cannot be made.
    bool start(const Options& options, std::string& error);

    const std::filesystem::path& path() const { return m_path; }
    bool hasKeyReports() const { return m_options.keyReports; }
    const QXVirtualDisplays& displays() const { return *m_displays; }

    // The keyboard as it looks, with every change written so far taken in.
    QImage picture();
    bool writeSnapshot(const std::string& file, std::string& error);

    // A key goes down or up: the key report (keyboards with key reports) and what the
    // key's entry in the current "scancode.sys" makes the keyboard type. Codes from 0x7A
    // on reach the program through the signalling interface; all others would go to the
    // computer as ordinary typing, which a virtual keyboard only reports.
    void keyDown(size_t key, Account& account);
    void keyUp(size_t key, Account& account);
    // Down, then up; the answer says what reached the program.
    std::string press(size_t key);
    static std::string describe(size_t key, const Account& account, bool keyReports);

    // Whether a keyboard is answering at its control socket.
    static bool running(const std::filesystem::path& keyboardFolder);

signals:
    // The displays, enable table or brightness changed on the disk.
    void pictureChanged();

private:
    static constexpr int kSignalCodes = 48; // bitmap of bytes 1-6 of a signalling report
    static constexpr uint8_t kFirstSignalCode = 0x7A;

    std::string handleControl(const std::string& request);
    std::array<uint8_t, 64> entry(size_t key) const;
    void pressCode(size_t key, uint8_t code, Account& account);
    void releaseCode(uint8_t code, Account& account);
    int sendSignalReport();
    bool makeFolder(const std::filesystem::path& inner, std::string& error);
    void takeAway();

    Options m_options;
    std::filesystem::path m_path; // <folder>/<name> while it exists
    std::unique_ptr<QXVirtualDisplays> m_displays;
    QXDiskWatcher* m_watcher = nullptr;
    QXReportServer* m_signal = nullptr;
    QXReportServer* m_keys = nullptr;
    QXControlServer* m_control = nullptr;

    std::bitset<120> m_keysDown;            // bit k: key index k, as in the key report
    std::bitset<kSignalCodes> m_signalHeld; // bit p: code 0x7A + p
    // The signalling codes each held key pressed, released at the latest when it goes up.
    std::array<std::vector<uint8_t>, QXKeyTable::kKeyCount> m_codesOfKey;
};
