#include "CProcFile.h"

#include "platform/QXLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

CProcFile::~CProcFile() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string_view CProcFile::read() {
    if (m_fd < 0)
        m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    size_t size = 0;
    int error = m_fd < 0 ? errno : 0;
    while (m_fd >= 0) {
        if (size == m_buffer.size())
            m_buffer.resize(m_buffer.size() * 2);
        ssize_t got =
            ::pread(m_fd, m_buffer.data() + size, m_buffer.size() - size, static_cast<off_t>(size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = errno;
            ::close(m_fd);
            m_fd = -1;
            size = 0;
            break;
        }
        if (got == 0)
            break;
        size += static_cast<size_t>(got);
    }
    if (m_fd < 0 && !m_warned) {
        m_warned = true;
        QXLog::warning(QXLog::kPlugins, "System figures: cannot read " + m_path + ": " +
                                            std::strerror(error) + "; the key keeps its picture");
    }
    return {m_buffer.data(), size};
}
