#include "CVideoPluginView.h"

#include "CVideoPropertiesFrame.h"
#include "VideoFrame.h"
#include "VideoPage.h"
#include "platform/QXDesktop.h"
#include "platform/QXLog.h"
#include "utility/utility.h"

#include <dlfcn.h>

namespace {

// A page may name another page; a chain longer than this (or a page naming itself) is
// given up rather than followed for ever.
constexpr int kMaximumPageDepth = 4;

QString readProperty(IQXPluginContext* context, const char16_t* name) {
    char16_t buffer[kQXTextCapacity] = {};
    if (!context->GetProperty(name, buffer))
        return {};
    return QString::fromUtf16(buffer);
}

void writeProperty(IQXPluginContext* context, const char16_t* name, const QString& value) {
    context->SetProperty(name, reinterpret_cast<const char16_t*>(value.utf16()));
}

} // namespace

CVideoPluginView::CVideoPluginView(IQXViewPluginContext* context)
    : CQXSelfthreadViewPluginInstanceEx(context), m_path(readProperty(context, u"Path")),
      m_looping(readProperty(context, u"Looping") == QLatin1String("true")) {}

CVideoPluginView::~CVideoPluginView() {
    HttpDownloadingUnregisterTask(this);
    delete m_page.data();
}

std::string CVideoPluginView::defaultClip() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&CVideoPluginView::defaultClip), &info) || !info.dli_fname)
        return {};
    std::string library = info.dli_fname;
    return library.substr(0, library.rfind('/') + 1) + "default.ogv";
}

void CVideoPluginView::Deactivate() {
    // A page still downloading would start the player again.
    HttpDownloadingUnregisterTask(this);
    CQXSelfthreadViewPluginInstanceEx::Deactivate();
}

void CVideoPluginView::Release() {
    // No download notification may reach the view once its thread has deleted it.
    HttpDownloadingUnregisterTask(this);
    CQXSelfthreadViewPluginInstanceEx::Release();
}

QXWindowHandle CVideoPluginView::CreateGUI(QXWindowHandle parent) {
    delete m_page.data();
    m_page = new CVideoPropertiesFrame(this, static_cast<QWidget*>(parent));
    m_page->show();
    return m_page.data();
}

QXBool CVideoPluginView::DestroyGUI() {
    const bool had = !m_page.isNull();
    delete m_page.data();
    return had ? 1 : 0;
}

QXBool CVideoPluginView::DropFile(const char16_t* path) {
    if (!path)
        return 0;
    SetPath(QString::fromUtf16(path));
    if (auto* page = qobject_cast<CVideoPropertiesFrame*>(m_page.data()))
        page->refresh();
    Restart();
    return 0; // the first file only
}

void CVideoPluginView::SetPath(const QString& path) {
    {
        std::lock_guard lock(m_mutex);
        m_path = path;
    }
    writeProperty(context(), u"Path", path);
}

void CVideoPluginView::SetLooping(bool looping) {
    {
        std::lock_guard lock(m_mutex);
        m_looping = looping;
        m_loop = looping;
    }
    writeProperty(context(), u"Looping",
                  looping ? QStringLiteral("true") : QStringLiteral("false"));
}

QString CVideoPluginView::path() const {
    std::lock_guard lock(m_mutex);
    return m_path;
}

bool CVideoPluginView::looping() const {
    std::lock_guard lock(m_mutex);
    return m_looping;
}

std::string CVideoPluginView::source() const {
    std::lock_guard lock(m_mutex);
    return m_source;
}

void CVideoPluginView::Restart() {
    HttpDownloadingUnregisterTask(this);
    signalEvent(0); // ends the running source, if any
    {
        std::lock_guard lock(m_drawMutex);
        if (QXDrawingSurface* surface = context()->GetDC())
            VideoFrame::clear(*surface);
    }
    context()->UpdateImage();
    std::string address;
    {
        std::lock_guard lock(m_mutex);
        m_pageDepth = 0;
        address = m_path.toStdString();
        m_loop = !address.empty() && m_looping;
    }
    play(address.empty() ? defaultClip() : address);
}

void CVideoPluginView::play(const std::string& address) {
    if (address.rfind("mms://", 0) == 0 || address.rfind("http://", 0) != 0) {
        openDirectly(address);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_url = address;
        m_urlOpenedDirectly = false;
    }
    const std::u16string url = QString::fromStdString(address).toStdU16String();
    if (!HttpDownloadingRegisterTask(this, url.c_str(), u"", u""))
        QXLog::warning(QXLog::kPlugins, "Video \"" + address + "\": the download did not start");
}

void CVideoPluginView::openDirectly(const std::string& address) {
    {
        std::lock_guard lock(m_mutex);
        m_source = address;
    }
    if (address.empty())
        return;
    // The previous run ends first; the kit starts the thread again for the new source.
    signalEvent(0);
    try {
        CQXSelfthreadViewPluginInstanceEx::Activate();
    } catch (const std::exception& error) {
        QXLog::warning(QXLog::kPlugins, "Video \"" + address + "\" not played: no player thread (" +
                                            error.what() + ")");
    }
}

int CVideoPluginView::OnContentType(const char16_t* contentType) {
    const std::string type = QString::fromUtf16(contentType ? contentType : u"").toStdString();
    if (VideoPage::isPageContentType(type))
        return 1;
    std::string url;
    {
        std::lock_guard lock(m_mutex);
        url = m_url;
        m_urlOpenedDirectly = true;
    }
    openDirectly(url); // a stream: the player reads it itself
    return 0;
}

void CVideoPluginView::OnFailed(int error, int httpStatus) {
    std::string url;
    {
        std::lock_guard lock(m_mutex);
        if (m_urlOpenedDirectly)
            return; // stopped on purpose: the address is a stream
        url = m_url;
    }
    QXLog::warning(QXLog::kPlugins, "Video page \"" + url + "\" not read (curl error " +
                                        std::to_string(error) + ", HTTP status " +
                                        std::to_string(httpStatus) + ")");
}

void CVideoPluginView::OnComplete(const unsigned char* body, size_t length) {
    const std::string address =
        VideoPage::findStreamAddress(std::string_view(reinterpret_cast<const char*>(body), length));
    std::string url;
    int depth = 0;
    {
        std::lock_guard lock(m_mutex);
        url = m_url;
        depth = ++m_pageDepth;
    }
    if (address.empty()) {
        QXLog::warning(QXLog::kPlugins, "Video page \"" + url + "\" names no video stream");
        return;
    }
    if (depth > kMaximumPageDepth) {
        QXLog::warning(QXLog::kPlugins, "Video page \"" + url +
                                            "\" not followed: pages lead to "
                                            "pages more than " +
                                            std::to_string(kMaximumPageDepth) + " times");
        return;
    }
    play(QString::fromLocal8Bit(address.c_str()).toStdString());
}

void CVideoPluginView::defaultAction() {
    const std::string target = path().toStdString();
    if (target.empty())
        return;
    if (!QXDesktop::open(target))
        QXLog::warning(QXLog::kPlugins,
                       "Opening the video \"" + target + "\": xdg-open could not be started");
}

void CVideoPluginView::DoToggleMute() {
    const int index = m_muteEvent;
    if (index > 0)
        signalEvent(static_cast<uint32_t>(index));
}

void CVideoPluginView::threadBegin() {
    m_running = true;
    setWaitPeriod(kQXWaitInfinite);
    m_frameEvent = addEvent();
    m_messageEvent = addEvent();
    m_muteEvent = addEvent();
    std::string address;
    {
        std::lock_guard lock(m_mutex);
        address = m_source;
    }
    const int frameEvent = m_frameEvent, messageEvent = m_messageEvent;
    std::string error;
    if (frameEvent < 0 || messageEvent < 0 || address.empty() ||
        !m_player.start(
            address,
            {[this, frameEvent] { signalEvent(static_cast<uint32_t>(frameEvent)); },
             [this, messageEvent] { signalEvent(static_cast<uint32_t>(messageEvent)); }},
            error)) {
        if (!address.empty())
            QXLog::warning(QXLog::kPlugins, "Video \"" + address + "\" not played: " + error);
        signalEvent(0);
    }
}

void CVideoPluginView::wakeUp(uint32_t waitResult) {
    if (static_cast<int>(waitResult) == m_frameEvent) {
        m_player.takeFrame([this](const uint8_t* rgb, int width, int height, int stride) {
            drawFrame(rgb, width, height, stride);
        });
    } else if (static_cast<int>(waitResult) == m_messageEvent) {
        bool loop = false;
        {
            std::lock_guard lock(m_mutex);
            loop = m_loop;
        }
        std::string error;
        const CVideoPlayer::Outcome outcome = m_player.handleMessages(loop, error);
        if (outcome == CVideoPlayer::Outcome::Failed)
            QXLog::warning(QXLog::kPlugins, "Video \"" + source() + "\" stopped: " + error);
        if (outcome != CVideoPlayer::Outcome::Playing) {
            // The last frame stays on the key.
            m_player.takeFrame([this](const uint8_t* rgb, int width, int height, int stride) {
                drawFrame(rgb, width, height, stride);
            });
            signalEvent(0);
        }
    } else if (static_cast<int>(waitResult) == m_muteEvent) {
        m_player.toggleMute();
    }
}

void CVideoPluginView::threadEnd() {
    m_player.stop();
    m_frameEvent = m_messageEvent = m_muteEvent = -1;
    m_running = false;
    ++m_runsEnded;
}

void CVideoPluginView::drawFrame(const uint8_t* rgb, int width, int height, int stride) {
    {
        std::lock_guard lock(m_drawMutex);
        QXDrawingSurface* surface = context()->GetDC();
        if (!surface)
            return;
        VideoFrame::draw(*surface, rgb, width, height, stride);
    }
    // Outside the lock: UpdateImage waits for the GUI thread, which may be in Restart.
    context()->UpdateImage();
}
