#pragma once

#include "device/QXDevice.h"
#include "kit/CDownloadTask.h"
#include "platform/QXSingleton.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Where the update server keeps its lists, images and installers.
//
// The program asks the maker's server unless the environment variable QX_UPDATE_SERVER
// names another base address (for example "http://127.0.0.1:8080/" for a local mirror or a
// test server); every address below then lies under that base with the same paths.
struct QXUpdateEndpoints {
    std::string firmwareList;     // text: latest version, then one line per image
    std::string firmwareImage;    // the latest image, for the latest-only update
    std::string firmwareFolder;   // listed image file names are appended to it
    std::string programList;      // text: version, tab, installer file name
    std::string programFolder;    // the installer file name is appended to it
    std::string instructionsPage; // how to upgrade a keyboard too old for this program

    static constexpr const char* kDefaultServer = "https://updates.tessera-quadrix.example/";
    static constexpr const char* kServerVariable = "QX_UPDATE_SERVER";

    // The same layout under another base address ("/" is added when it is missing).
    static QXUpdateEndpoints forServer(std::string base);
    // QX_UPDATE_SERVER when it is set and not empty, else the maker's server.
    static QXUpdateEndpoints fromEnvironment();
};

// Keeps the keyboard's firmware and the program up to date.
//
// On every keyboard state change (2040) it reads the keyboard's firmware version; a
// keyboard older than kCompatibleFirmware cannot work with this program, so the user is
// told so, offered the upgrade instructions, and the program ends. For the update dialog
// it downloads the firmware and program lists, a firmware image (verified, then staged as
// the keyboard's "vTessera/upgrade.bin") and a program installer (saved into the profile
// folder and handed to the desktop's opener). 2047 is sent whenever the dialog should
// show the fields again.
//
// Everything but the download callbacks lives on the GUI thread, which must run a Qt
// event loop: the callbacks come on the downloader's thread, only copy what they got and
// queue the step to the GUI thread, so they never wait for it and cancelling a download
// from the GUI thread never waits for more than a copy.
class QXFirmwareUpdateController : public CDownloadTask,
                                   public singleton<QXFirmwareUpdateController> {
public:
    enum State : unsigned {
        Idle = 0,
        FetchingFirmwareList = 1,
        FetchingProgramList = 2,
        FetchingFirmware = 3,
        FetchingInstaller = 4,
    };

    struct FirmwareEntry {
        std::u16string version;
        std::u16string fileName;
        bool operator==(const FirmwareEntry&) const = default;
    };

    // Keyboards below this version do not work with the program.
    static constexpr std::u16string_view kCompatibleFirmware = u"0.60b";

    // Answers the outdated-firmware message: true for OK (show the instructions).
    using Asker = std::function<bool(const QString& text)>;
    // Opens a file or an address with the desktop's program for it.
    using Opener = std::function<bool(const std::string& fileOrAddress)>;

    // profileFolder: where installers are saved; the current user's profile when empty.
    // Binds 2040 on the current dispatch. Create it on the GUI thread, before the keyboard
    // is first connected, so that the first connection is checked too.
    explicit QXFirmwareUpdateController(
        QXDevice& device, std::filesystem::path profileFolder = {},
        QXUpdateEndpoints endpoints = QXUpdateEndpoints::fromEnvironment());
    // Unbinds, cancels the download under way and drops the lists; returns without
    // waiting for the server.
    virtual ~QXFirmwareUpdateController();
    QXFirmwareUpdateController(const QXFirmwareUpdateController&) = delete;
    QXFirmwareUpdateController& operator=(const QXFirmwareUpdateController&) = delete;

    // The outdated-firmware message (default: a message box with OK and Cancel).
    void setAsker(Asker asker) { m_asker = std::move(asker); }
    // Ends the program after that message (default: QCoreApplication::quit, posted).
    void setEndProgram(std::function<void()> endProgram) { m_endProgram = std::move(endProgram); }
    // Opens the instructions page and installers (default: QXDesktop::open).
    void setOpener(Opener opener) { m_opener = std::move(opener); }

    const QXUpdateEndpoints& endpoints() const { return m_endpoints; }

    // The fields the dialog shows; empty texts are unknown.
    State state() const { return m_state; }
    bool downloadingUpdate() const {
        return m_state == FetchingFirmware || m_state == FetchingInstaller;
    }
    unsigned progress() const { return m_percent; } // of the download under way, 0-100
    bool keyboardConnected() const { return m_device.isConnected(); }
    const std::u16string& keyboardFirmwareVersion() const { return m_keyboardVersion; }
    const std::u16string& latestFirmwareVersion() const { return m_latestFirmware; }
    const std::vector<FirmwareEntry>& firmwareList() const { return m_firmwareList; }
    const std::u16string& runningProgramVersion() const { return m_runningVersion; }
    const std::u16string& latestProgramVersion() const { return m_latestProgram; }
    const std::u16string& installerFileName() const { return m_installerName; }

    // Whether the update buttons may be pressed now. List mode offers every listed image,
    // also older ones, to any compatible keyboard.
    bool canUpdateFirmware(bool listMode) const;
    bool canUpdateProgram() const;

    // The keyboard's version again, from its version file (empty when none is connected).
    void readKeyboardVersion();
    // Starts the list downloads: the firmware list, then the program list. Does nothing
    // while an image or installer is downloading, which it would otherwise cancel.
    bool fetchLists();
    // Downloads a firmware image: the listed entry in list mode, else the latest image.
    // False when nothing was started.
    bool updateFirmware(bool listMode, size_t entry = 0);
    // Downloads the program installer. False when nothing was started.
    bool updateProgram();

    // 2040: 0 connected, 1 disconnected.
    void deviceState(unsigned state);

    // The version in a text: its first "digits.digits word-characters"; empty when none.
    static std::u16string versionText(std::string_view text);
    static std::u16string versionText(std::u16string_view text);
    // The firmware list's entries after its first line; starts with {latest, "upgrade.bin"}.
    static std::vector<FirmwareEntry> parseFirmwareList(std::string_view text,
                                                        const std::u16string& latest);
    // The program list: version and installer file name; both empty when malformed.
    static FirmwareEntry parseProgramList(std::string_view text);
    // The header and checksum test of a downloaded image ("TQ113_", payload length at
    // 12, checksum at 16, payload from 20 to its end inside the image).
    static bool imageLooksRight(std::span<const uint8_t> image);
    // Percent of a download; 0 while the total is unknown.
    static unsigned percentOf(int64_t received, int64_t total);
    // An installer name that stays inside the folder it is saved into.
    static bool safeFileName(std::u16string_view name);

    // IDownloadTask, on the downloader's thread.
    void OnFailed(int error, int httpStatus) override;
    void OnProgress(int64_t received, int64_t total) override;
    void OnComplete(const unsigned char* body, size_t length) override;

private:
    bool startDownload(State state, const std::string& url);
    void cancelDownload();
    // Runs on the GUI thread unless the download of that generation was replaced.
    void queue(uint64_t generation, std::function<void()> step);
    void completed(const std::string& body);
    void finish();
    void stageFirmware(const std::string& image);
    void runInstaller(const std::string& installer);
    void sendRefresh();

    QXDevice& m_device;
    std::filesystem::path m_profileFolder;
    QXUpdateEndpoints m_endpoints;
    Asker m_asker;
    std::function<void()> m_endProgram;
    Opener m_opener;

    // GUI thread.
    State m_state = Idle;
    unsigned m_percent = 0;
    std::u16string m_keyboardVersion;
    std::u16string m_latestFirmware;
    std::vector<FirmwareEntry> m_firmwareList;
    std::u16string m_runningVersion;
    std::u16string m_latestProgram;
    std::u16string m_installerName;
    bool m_asking = false;

    // Which download the callbacks belong to: changed before each download starts and
    // after each one is cancelled, so steps queued for an earlier one are dropped.
    std::atomic<uint64_t> m_generation{0};
    // Progress comes far more often than the dialog needs to hear of it: at most one
    // refresh is queued at a time, and it shows the latest figure.
    std::mutex m_progressLock; // the three fields below
    unsigned m_pendingPercent = 0;
    uint64_t m_pendingGeneration = 0;
    bool m_progressQueued = false;
    // Queued steps are delivered through it; going first, it takes undelivered ones along.
    std::unique_ptr<QObject> m_receiver;
};
