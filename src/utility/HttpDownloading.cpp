#include "platform/QXText.h"
#include "utility/PassProtect.h"
#include "utility/utility.h"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <curl/curl.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sodium.h>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// One library thread runs every download through a curl multi handle and calls the
// tasks back from there. The multi handle and the easy handles belong to that thread;
// other threads only queue work and cancel under the mutex, then wake it with
// curl_multi_wakeup (or the condition variable while it has nothing to do).

namespace {

constexpr long kConnectTimeoutSeconds = 30;
// A transfer that moves less than this many bytes per second for this long is given up,
// so a server that stops answering cannot hold a download forever.
constexpr long kLowSpeedBytes = 1;
constexpr long kLowSpeedSeconds = 60;
constexpr long kMaxRedirects = 10;
constexpr size_t kMaxBodyBytes = size_t(512) << 20;
constexpr int kPollMilliseconds = 1000;

std::atomic<bool> g_gone{false};

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

bool isFollowedRedirect(long status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

class Downloader;

// One download of one task. Created by the registering thread, owned by the worker
// from the moment it is queued.
struct Transfer {
    Transfer(Downloader& owner_, IDownloadTask* task_) : owner(owner_), task(task_) {}
    ~Transfer() {
        if (easy)
            curl_easy_cleanup(easy);
        sodium_memzero(password.data(), password.size());
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    Downloader& owner;
    IDownloadTask* const task;
    std::string url;
    std::string userName;
    std::string password;
    bool passwordUnreadable = false;

    bool cancelled = false; // guarded by the downloader's mutex

    // The rest is touched by the worker only.
    CURL* easy = nullptr;
    long lastStatus = 0;      // of the latest response, redirects included
    std::string contentType;  // of the latest response
    bool sawLocation = false; // the latest response named a Location
    int64_t contentLength = -1;
    bool chunked = false;
    bool headersDone = false; // the final response's headers went to the task
    long status = 0;          // of the final response
    int64_t total = 0;
    std::string body;
    bool refused = false; // stopped on purpose: an error status, OnContentType, a throw
    bool tooLarge = false;
};

class Downloader {
public:
    static Downloader& instance() {
        static Downloader downloader;
        return downloader;
    }

    int registerTask(std::unique_ptr<Transfer> transfer) {
        IDownloadTask* task = transfer->task;
        {
            std::unique_lock lock(m_mutex);
            if (!m_multi || m_stopping)
                return 0;
            cancelLocked(task, lock);
            m_current[task] = transfer.get();
            m_starting.push_back(std::move(transfer));
        }
        wake();
        return 1;
    }

    void unregisterTask(IDownloadTask* task) {
        {
            std::unique_lock lock(m_mutex);
            cancelLocked(task, lock);
        }
        wake();
    }

private:
    Downloader() {
        // curl_global_init is not undone at exit: TLS libraries tear themselves down in
        // their own exit handlers, and a late cleanup here would race them.
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            return;
        m_multi = curl_multi_init();
        if (!m_multi)
            return;
        std::lock_guard lock(m_mutex);
        m_thread = std::thread([this] { run(); });
        m_workerId = m_thread.get_id();
    }

    // Runs at exit: downloads still going are dropped without further callbacks; a
    // callback in progress is waited for.
    ~Downloader() {
        g_gone = true;
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        wake();
        if (onWorker()) {
            m_thread.detach(); // exit() was called from a callback
            return;
        }
        if (m_thread.joinable())
            m_thread.join();
        for (auto& [easy, transfer] : m_running)
            curl_multi_remove_handle(m_multi, easy);
        m_running.clear();
        m_starting.clear();
        if (m_multi)
            curl_multi_cleanup(m_multi);
    }

    bool onWorker() const { return std::this_thread::get_id() == m_workerId; }

    void wake() {
        m_wake.notify_all();
        if (m_multi)
            curl_multi_wakeup(m_multi);
    }

    // Makes sure no callback for the task runs or will run. On the worker the callback
    // running now is the caller's own (or another task's), so there is nothing to wait for.
    void cancelLocked(IDownloadTask* task, std::unique_lock<std::mutex>& lock) {
        for (;;) {
            auto it = m_current.find(task);
            if (it != m_current.end()) {
                it->second->cancelled = true;
                m_current.erase(it);
            }
            if (onWorker() || m_inCallback != task)
                return;
            m_callbackEnded.wait(lock, [&] { return m_inCallback != task; });
        }
    }

    // Calls the task unless its download was cancelled. False when the download must
    // stop: cancelled before or during the call, or the call threw.
    template <typename Call> bool deliver(Transfer& transfer, Call&& call) {
        {
            std::lock_guard lock(m_mutex);
            if (transfer.cancelled || m_stopping)
                return false;
            m_inCallback = transfer.task;
        }
        bool ok = true;
        try {
            call();
        } catch (...) {
            transfer.refused = true;
            ok = false;
        }
        {
            std::lock_guard lock(m_mutex);
            m_inCallback = nullptr;
            ok = ok && !transfer.cancelled;
        }
        m_callbackEnded.notify_all();
        return ok;
    }

    void forget(Transfer& transfer) {
        std::lock_guard lock(m_mutex);
        auto it = m_current.find(transfer.task);
        if (it != m_current.end() && it->second == &transfer)
            m_current.erase(it);
    }

    void fail(Transfer& transfer, int error, long status) {
        deliver(transfer, [&] { transfer.task->OnFailed(error, static_cast<int>(status)); });
        forget(transfer);
    }

    void run() {
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            if (m_starting.empty() && m_running.empty()) {
                m_wake.wait(lock, [&] { return m_stopping || !m_starting.empty(); });
                continue;
            }
            std::vector<std::unique_ptr<Transfer>> starting = std::move(m_starting);
            m_starting.clear();
            lock.unlock();
            for (auto& transfer : starting)
                start(std::move(transfer));
            dropCancelled();
            if (!m_running.empty()) {
                int running = 0;
                curl_multi_perform(m_multi, &running);
                int left = 0;
                while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
                    if (message->msg == CURLMSG_DONE)
                        finish(message->easy_handle, message->data.result);
                }
                if (!m_running.empty())
                    curl_multi_poll(m_multi, nullptr, 0, kPollMilliseconds, nullptr);
            }
            lock.lock();
        }
    }

    void start(std::unique_ptr<Transfer> transfer) {
        {
            std::lock_guard lock(m_mutex);
            if (transfer->cancelled)
                return;
        }
        if (transfer->passwordUnreadable)
            return fail(*transfer, 0, 0);
        transfer->easy = curl_easy_init();
        if (!transfer->easy || !configure(*transfer) ||
            curl_multi_add_handle(m_multi, transfer->easy) != CURLM_OK)
            return fail(*transfer, CURLE_FAILED_INIT, 0);
        CURL* easy = transfer->easy;
        m_running.emplace(easy, std::move(transfer));
    }

    static bool configure(Transfer& t) {
        CURL* e = t.easy;
        bool ok = curl_easy_setopt(e, CURLOPT_URL, t.url.c_str()) == CURLE_OK &&
                  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK &&
                  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
        curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
        curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxBodyBytes));
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        curl_easy_setopt(e, CURLOPT_USERAGENT, "TesseraQuadrix/1.0");
        // Only tests set this, to trust the certificate authority of their own HTTPS server
        // on 127.0.0.1; otherwise the system's certificate store decides.
        if (const char* caFile = std::getenv("QX_MAIL_CA_FILE"); caFile && *caFile)
            curl_easy_setopt(e, CURLOPT_CAINFO, caFile);
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Downloader::onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Downloader::onBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
        if (!t.userName.empty()) {
            // curl keeps the credentials to the original host; a redirect elsewhere does
            // not get them.
            curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            curl_easy_setopt(e, CURLOPT_USERNAME, t.userName.c_str());
            curl_easy_setopt(e, CURLOPT_PASSWORD, t.password.c_str());
        }
        return ok;
    }

    // Header lines of every response arrive here, those of redirects and of "100
    // Continue" included; only the final response is reported, once its headers are
    // complete. Returning anything but the line's size stops the transfer.
    static size_t onHeader(char* buffer, size_t size, size_t count, void* data) {
        auto& t = *static_cast<Transfer*>(data);
        size_t length = size * count;
        if (t.headersDone)
            return length; // trailers
        std::string_view line(buffer, length);
        if (line.starts_with("HTTP/")) {
            t.contentType.clear();
            t.sawLocation = false;
            t.contentLength = -1;
            t.chunked = false;
        } else if (trimmed(line).empty()) {
            curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &t.lastStatus);
            bool interim = (t.lastStatus >= 100 && t.lastStatus < 200) ||
                           (t.sawLocation && isFollowedRedirect(t.lastStatus));
            if (!interim && !t.owner.reportHeaders(t))
                return 0;
        } else if (size_t colon = line.find(':'); colon != std::string_view::npos) {
            std::string_view name = trimmed(line.substr(0, colon));
            std::string_view value = trimmed(line.substr(colon + 1));
            if (equalsIgnoringAsciiCase(name, "Content-Type"))
                t.contentType = value;
            else if (equalsIgnoringAsciiCase(name, "Location"))
                t.sawLocation = !value.empty();
            else if (equalsIgnoringAsciiCase(name, "Transfer-Encoding"))
                t.chunked = value.find("chunked") != std::string_view::npos;
            else if (equalsIgnoringAsciiCase(name, "Content-Length"))
                t.contentLength = parseLength(value);
        }
        return length;
    }

    static int64_t parseLength(std::string_view text) {
        if (text.empty() || text.size() > 18)
            return -1;
        int64_t value = 0;
        for (char c : text) {
            if (c < '0' || c > '9')
                return -1;
            value = value * 10 + (c - '0');
        }
        return value;
    }

    bool reportHeaders(Transfer& t) {
        t.headersDone = true;
        t.status = t.lastStatus;
        t.total = (!t.chunked && t.contentLength > 0) ? t.contentLength : 0;
        if (!deliver(t, [&] { t.task->OnResponse(static_cast<int>(t.status)); }))
            return false;
        if (t.status >= 400) {
            t.refused = true;
            return false;
        }
        std::u16string type = fromUtf8(t.contentType);
        int goOn = 1;
        if (!deliver(t, [&] { goOn = t.task->OnContentType(type.c_str()); }))
            return false;
        if (goOn == 0) {
            t.refused = true;
            return false;
        }
        return true;
    }

    static size_t onBody(char* buffer, size_t size, size_t count, void* data) {
        auto& t = *static_cast<Transfer*>(data);
        size_t length = size * count;
        if (!t.headersDone && !t.owner.reportHeaders(t))
            return 0;
        if (length > kMaxBodyBytes - t.body.size()) {
            t.tooLarge = true;
            return 0;
        }
        try {
            t.body.append(buffer, length);
        } catch (const std::bad_alloc&) {
            t.tooLarge = true;
            return 0;
        }
        auto received = static_cast<int64_t>(t.body.size());
        if (!t.owner.deliver(t, [&] { t.task->OnProgress(received, t.total); }))
            return 0;
        return length;
    }

    void finish(CURL* easy, CURLcode result) {
        auto it = m_running.find(easy);
        if (it == m_running.end())
            return;
        std::unique_ptr<Transfer> transfer = std::move(it->second);
        m_running.erase(it);
        curl_multi_remove_handle(m_multi, easy);
        Transfer& t = *transfer;
        if (result == CURLE_OK && !t.headersDone && !t.refused)
            reportHeaders(t);
        if (t.refused)
            return fail(t, 0, t.status);
        if (t.tooLarge || result == CURLE_FILESIZE_EXCEEDED)
            return fail(t, CURLE_FILESIZE_EXCEEDED, t.lastStatus);
        if (result != CURLE_OK)
            return fail(t, result, t.lastStatus);
        auto length = static_cast<int64_t>(t.body.size());
        if (deliver(t, [&] { t.task->OnTransferEnd(static_cast<int>(t.status), length); }))
            deliver(t, [&] {
                t.task->OnComplete(reinterpret_cast<const unsigned char*>(t.body.data()),
                                   t.body.size());
            });
        forget(t);
    }

    void dropCancelled() {
        std::vector<CURL*> cancelled;
        {
            std::lock_guard lock(m_mutex);
            for (auto& [easy, transfer] : m_running)
                if (transfer->cancelled)
                    cancelled.push_back(easy);
        }
        for (CURL* easy : cancelled) {
            curl_multi_remove_handle(m_multi, easy);
            m_running.erase(easy);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;                // the worker waits here while it has no work
    std::condition_variable m_callbackEnded;       // cancelling threads wait for a callback to end
    std::map<IDownloadTask*, Transfer*> m_current; // each task's download
    std::vector<std::unique_ptr<Transfer>> m_starting; // queued for the worker
    IDownloadTask* m_inCallback = nullptr;             // whose callback runs now
    bool m_stopping = false;
    CURLM* m_multi = nullptr;
    std::map<CURL*, std::unique_ptr<Transfer>> m_running; // worker only
    std::thread m_thread;
    std::thread::id m_workerId;
};

} // namespace

extern "C" {

QX_UTILITY_API int HttpDownloadingRegisterTask(IDownloadTask* task, const char16_t* url,
                                               const char16_t* userName, const char16_t* password) {
    if (!task || !url || g_gone)
        return 0;
    Downloader& downloader = Downloader::instance();
    auto transfer = std::make_unique<Transfer>(downloader, task);
    transfer->url = toUtf8(url);
    transfer->userName = userName ? toUtf8(userName) : std::string();
    // Decrypted here, on the caller's thread: a small file read, and an unreadable
    // password is then reported like any other failure, from the library thread.
    std::optional<std::string> plain = qxutility::unprotectPassword(password ? password : u"");
    if (plain) {
        transfer->password = *plain;
        sodium_memzero(plain->data(), plain->size());
    } else {
        transfer->passwordUnreadable = true;
    }
    return downloader.registerTask(std::move(transfer));
}

QX_UTILITY_API void HttpDownloadingUnregisterTask(IDownloadTask* task) {
    if (task && !g_gone)
        Downloader::instance().unregisterTask(task);
}

} // extern "C"
