#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

// Reads the unread count and the newest entry's address out of an Atom feed of the unread
// inbox. Not thread-safe by itself: the web mail view serialises its use.
class CGmailFeedReader {
public:
    // <fullcount>digits</fullcount> sets count (empty digits read as 0, more than 10
    // digits or a value past the 32-bit range read as the largest count); true when the
    // element was there. Without it count stays as it was.
    bool readCount(const char* body, size_t length);
    // The href of the first entry's alternate link, "&amp;" turned into "&"; empty when
    // there is none.
    void readLink(const char* body, size_t length);

    int32_t count() const { return m_count; }
    QString link() const { return m_link; }

protected:
    int32_t m_count = 0;
    QString m_link;
};
