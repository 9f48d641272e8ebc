#pragma once

#include <string>

// The user's local mail store and its unread count: new messages of a Maildir ($MAIL when
// it names one, else ~/Maildir), or the messages of an mbox ($MAIL, else /var/mail/$USER)
// whose "Status:" header has no "R". The store is found again at every count, so one that
// appears, moves or goes is followed.
//
// Changes are learnt from inotify: checking for one is a single read() on a non-blocking
// descriptor. Without inotify every check reports a change. One thread at a time.
class QXLocalMailbox {
public:
    QXLocalMailbox();
    ~QXLocalMailbox();
    QXLocalMailbox(const QXLocalMailbox&) = delete;
    QXLocalMailbox& operator=(const QXLocalMailbox&) = delete;

    // True when the store may have changed since the last count (and before the first).
    bool changed();
    // The unread count, or -1 when there is no store; watches what it found.
    int count();

    // Counting rules, for any store.
    static int countMaildirNew(const std::string& maildir); // -1 without a "new" folder
    static int countMboxUnread(const std::string& mbox);    // -1 when it cannot be read

private:
    void watch(const std::string& path, unsigned mask);
    void unwatchAll();

    int m_fd = -1;
    bool m_dirty = true;
};
