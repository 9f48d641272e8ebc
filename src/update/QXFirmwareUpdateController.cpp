#include "update/QXFirmwareUpdateController.h"

#include "platform/QXDesktop.h"
#include "platform/QXDispatch.h"
#include "platform/QXFiles.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "platform/QXText.h"
#include "store/QXProfile.h"
#include "utility/utility.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <pcrecpp.h>

#ifndef QX_VERSION
#error "QX_VERSION must name the program's version"
#endif

namespace {

constexpr const char* kCaption = "Tessera Quadrix Configurator";
constexpr char kImageMagic[] = "TQ113_";
constexpr size_t kImageHeaderBytes = 20;

uint32_t littleEndian32(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

// The version the program was built as, written the way version resources write it
// ("1, 0, 0") or the plain way: commas become points and spaces go.
std::u16string programVersion() {
    std::u16string version;
    for (char c : std::string_view(QX_VERSION)) {
        if (c == ',')
            version.push_back(u'.');
        else if (c != ' ')
            version.push_back(static_cast<char16_t>(c));
    }
    return version;
}

bool askWithMessageBox(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kCaption), text,
                    QMessageBox::Ok | QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void postQuit() {
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            application, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
}

} // namespace

QXUpdateEndpoints QXUpdateEndpoints::forServer(std::string base) {
    if (base.empty() || base.back() != '/')
        base += '/';
    return {
        .firmwareList = base + "firmware/versions.txt",
        .firmwareImage = base + "firmware/upgrade.bin",
        .firmwareFolder = base + "firmware/",
        .programList = base + "configurator/version.txt",
        .programFolder = base + "configurator/",
        .instructionsPage = base + "firmware/upgrade.html",
    };
}

QXUpdateEndpoints QXUpdateEndpoints::fromEnvironment() {
    const char* server = std::getenv(kServerVariable);
    return forServer(server && *server ? server : kDefaultServer);
}

QXFirmwareUpdateController::QXFirmwareUpdateController(QXDevice& device,
                                                       std::filesystem::path profileFolder,
                                                       QXUpdateEndpoints endpoints)
    : m_device(device), m_profileFolder(std::move(profileFolder)),
      m_endpoints(std::move(endpoints)), m_asker(askWithMessageBox), m_endProgram(postQuit),
      m_opener(QXDesktop::open), m_runningVersion(programVersion()),
      m_receiver(std::make_unique<QObject>()) {
    if (m_profileFolder.empty())
        m_profileFolder = QXProfileFolders::forCurrentUser().profile;
    QXDispatch::current().RegisterHandler(QXM_DEVICE_STATE, this,
                                          &QXFirmwareUpdateController::deviceState);
}

QXFirmwareUpdateController::~QXFirmwareUpdateController() {
    QXDispatch::current().UnregisterObject(this);
    cancelDownload();
    m_firmwareList.clear();
}

bool QXFirmwareUpdateController::canUpdateFirmware(bool listMode) const {
    if (downloadingUpdate() || m_latestFirmware.empty() || m_keyboardVersion.empty() ||
        m_keyboardVersion < kCompatibleFirmware)
        return false;
    return listMode || m_keyboardVersion < m_latestFirmware;
}

bool QXFirmwareUpdateController::canUpdateProgram() const {
    return !downloadingUpdate() && !m_latestProgram.empty() && !m_runningVersion.empty() &&
           m_runningVersion < m_latestProgram;
}

void QXFirmwareUpdateController::readKeyboardVersion() {
    m_keyboardVersion.clear();
    if (m_device.isConnected())
        m_keyboardVersion = versionText(m_device.files().version());
}

bool QXFirmwareUpdateController::fetchLists() {
    if (downloadingUpdate())
        return false;
    return startDownload(FetchingFirmwareList, m_endpoints.firmwareList);
}

bool QXFirmwareUpdateController::updateFirmware(bool listMode, size_t entry) {
    if (downloadingUpdate())
        return false;
    if (listMode) {
        if (entry >= m_firmwareList.size())
            return false;
        return startDownload(FetchingFirmware,
                             m_endpoints.firmwareFolder + toUtf8(m_firmwareList[entry].fileName));
    }
    if (m_latestFirmware.empty() || m_keyboardVersion.empty() ||
        m_keyboardVersion < kCompatibleFirmware)
        return false;
    return startDownload(FetchingFirmware, m_endpoints.firmwareImage);
}

bool QXFirmwareUpdateController::updateProgram() {
    if (downloadingUpdate() || !safeFileName(m_installerName))
        return false;
    return startDownload(FetchingInstaller, m_endpoints.programFolder + toUtf8(m_installerName));
}

void QXFirmwareUpdateController::deviceState(unsigned state) {
    readKeyboardVersion();
    if (state == QXDevice::Disconnected || m_keyboardVersion.empty() ||
        m_keyboardVersion >= kCompatibleFirmware || m_asking) {
        sendRefresh();
        return;
    }
    // The message box runs an event loop of its own, in which the keyboard may come and
    // go again: one question is enough.
    m_asking = true;
    const QString text = QStringLiteral("Firmware version ") +
                         QString::fromStdU16String(m_keyboardVersion) +
                         QStringLiteral(" is outdated and incompatible with Configurator.\n"
                                        "Press OK for upgrade instructions.");
    if (m_asker && m_asker(text) && m_opener)
        m_opener(m_endpoints.instructionsPage);
    m_asking = false;
    if (m_endProgram)
        m_endProgram();
}

std::u16string QXFirmwareUpdateController::versionText(std::string_view text) {
    static const pcrecpp::RE version("(\\d+\\.\\d+\\w*)");
    const auto length = static_cast<int>(std::min<size_t>(text.size(), INT_MAX));
    std::string match;
    if (!version.PartialMatch(pcrecpp::StringPiece(text.data(), length), &match))
        return {};
    return std::u16string(match.begin(), match.end()); // ASCII only: digits, '.', \w
}

std::u16string QXFirmwareUpdateController::versionText(std::u16string_view text) {
    return versionText(toUtf8(text));
}

std::vector<QXFirmwareUpdateController::FirmwareEntry>
QXFirmwareUpdateController::parseFirmwareList(std::string_view text, const std::u16string& latest) {
    std::vector<FirmwareEntry> entries{{latest, u"upgrade.bin"}};
    size_t start = text.find('\n');
    if (start == std::string_view::npos)
        return entries;
    ++start;
    // "label<TAB>file<CR><LF>" per line; the first line that is not shaped so ends the list.
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            break;
        const std::string_view line = text.substr(start, end - start);
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
            break;
        std::string_view fileName = line.substr(tab + 1);
        if (!fileName.empty())
            fileName.remove_suffix(1); // the carriage return
        entries.push_back({versionText(line.substr(0, tab)), fromUtf8(fileName)});
        start = end + 1;
    }
    return entries;
}

QXFirmwareUpdateController::FirmwareEntry
QXFirmwareUpdateController::parseProgramList(std::string_view text) {
    const size_t tab = text.find('\t');
    if (tab == std::string_view::npos)
        return {};
    std::string_view fileName = text.substr(tab + 1);
    fileName = fileName.substr(0, fileName.find_first_of("\r\n\t"));
    const std::string_view version = text.substr(0, tab);
    if (version.empty() || fileName.empty())
        return {};
    return {fromUtf8(version), fromUtf8(fileName)};
}

bool QXFirmwareUpdateController::imageLooksRight(std::span<const uint8_t> image) {
    if (image.size() <= kImageHeaderBytes ||
        std::memcmp(image.data(), kImageMagic, sizeof kImageMagic - 1) != 0)
        return false;
    const uint32_t payloadBytes = littleEndian32(image.data() + 12);
    const uint32_t checksum = littleEndian32(image.data() + 16);
    // The payload must lie inside the download: a length that claims more than came is
    // refused rather than summed past the end.
    if (payloadBytes > image.size() - kImageHeaderBytes)
        return false;
    uint32_t sum = 0;
    for (uint8_t byte : image.subspan(kImageHeaderBytes, payloadBytes))
        sum += 255u - byte;
    return sum == checksum;
}

unsigned QXFirmwareUpdateController::percentOf(int64_t received, int64_t total) {
    if (total <= 0 || received <= 0)
        return 0;
    if (received >= total)
        return 100;
    if (received > std::numeric_limits<int64_t>::max() / 100)
        return static_cast<unsigned>(received / (total / 100));
    return static_cast<unsigned>(received * 100 / total);
}

bool QXFirmwareUpdateController::safeFileName(std::u16string_view name) {
    return !name.empty() && name.find_first_of(u"/\\", 0, 2) == std::u16string_view::npos &&
           name.find(u"..") == std::u16string_view::npos &&
           name.find(char16_t(0)) == std::u16string_view::npos;
}

void QXFirmwareUpdateController::OnFailed(int, int) {
    queue(m_generation, [this] {
        m_state = Idle;
        m_percent = 0;
    });
}

void QXFirmwareUpdateController::OnProgress(int64_t received, int64_t total) {
    {
        std::lock_guard lock(m_progressLock);
        m_pendingPercent = percentOf(received, total);
        m_pendingGeneration = m_generation;
        if (m_progressQueued)
            return;
        m_progressQueued = true;
    }
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [this] {
            unsigned percent = 0;
            uint64_t generation = 0;
            {
                std::lock_guard lock(m_progressLock);
                percent = m_pendingPercent;
                generation = m_pendingGeneration;
                m_progressQueued = false;
            }
            if (generation != m_generation)
                return;
            m_percent = percent;
            sendRefresh();
        },
        Qt::QueuedConnection);
}

void QXFirmwareUpdateController::OnComplete(const unsigned char* body, size_t length) {
    auto copy = std::make_shared<const std::string>(reinterpret_cast<const char*>(body), length);
    queue(m_generation, [this, copy] { completed(*copy); });
}

void QXFirmwareUpdateController::queue(uint64_t generation, std::function<void()> step) {
    QMetaObject::invokeMethod(
        m_receiver.get(),
        [this, generation, step = std::move(step)] {
            if (generation == m_generation)
                step();
        },
        Qt::QueuedConnection);
}

bool QXFirmwareUpdateController::startDownload(State state, const std::string& url) {
    cancelDownload();
    m_state = state;
    m_percent = 0;
    if (HttpDownloadingRegisterTask(this, fromUtf8(url).c_str(), u"", u"") == 1)
        return true;
    m_state = Idle;
    return false;
}

void QXFirmwareUpdateController::cancelDownload() {
    // Waits only for a callback that is running now, and callbacks only copy and queue.
    HttpDownloadingUnregisterTask(this);
    ++m_generation;
}

void QXFirmwareUpdateController::completed(const std::string& body) {
    switch (m_state) {
    case FetchingFirmwareList:
        m_latestFirmware = versionText(body);
        m_firmwareList = parseFirmwareList(body, m_latestFirmware);
        // The dialog hears of both lists together, when the program list is in.
        if (!startDownload(FetchingProgramList, m_endpoints.programList))
            m_percent = 0;
        return;
    case FetchingProgramList: {
        FirmwareEntry program = parseProgramList(body);
        m_latestProgram = std::move(program.version);
        m_installerName = std::move(program.fileName);
        break;
    }
    case FetchingFirmware:
        stageFirmware(body);
        break;
    case FetchingInstaller:
        runInstaller(body);
        break;
    case Idle:
        return;
    }
    finish();
}

void QXFirmwareUpdateController::finish() {
    m_state = Idle;
    m_percent = 0;
    sendRefresh();
}

void QXFirmwareUpdateController::stageFirmware(const std::string& image) {
    const std::span bytes(reinterpret_cast<const uint8_t*>(image.data()), image.size());
    if (!m_device.isConnected() || !imageLooksRight(bytes))
        return;
    if (m_device.files().stageFirmware(bytes))
        m_device.signalWrite();
}

void QXFirmwareUpdateController::runInstaller(const std::string& installer) {
    if (!safeFileName(m_installerName))
        return;
    const std::filesystem::path path = m_profileFolder / toPath(m_installerName);
    // Written whole or not at all, and never through a link left in the folder.
    if (!writeFileAtomically(path, installer)) {
        QXLog::warning(QXLog::kApp, "the downloaded installer cannot be written to " +
                                        path.string());
        return;
    }
    if (m_opener)
        m_opener(path.string());
}

void QXFirmwareUpdateController::sendRefresh() {
    QXDispatch::current().Send(QXM_UPDATE_STATE, 0, 0);
}
