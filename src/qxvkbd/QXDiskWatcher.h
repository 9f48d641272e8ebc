#pragma once

#include <QObject>
#include <filesystem>

class QSocketNotifier;
class QXVirtualDisplays;

// Follows what the program writes to the keyboard's disk with inotify and brings the
// displays up to date: "vTessera/dynamic/NNN.sys", "layout.sys" and "order.sys". The
// program keeps its files open and rewrites them in place, so modifications count, not
// only closes. Folders that are removed and made again are watched again. Costs nothing
// while nothing is written. GUI thread only.
class QXDiskWatcher : public QObject {
    Q_OBJECT
public:
    // disk: the keyboard's disk folder (holding "vTessera"); displays must outlive this.
    QXDiskWatcher(std::filesystem::path disk, QXVirtualDisplays& displays,
                  QObject* parent = nullptr);
    ~QXDiskWatcher() override;

    // Starts watching and reads everything once. False when inotify is not available.
    // location: where the disk folder is now, when it is still to be moved to the path
    // given above; watches follow the folder through the move, so nothing written after
    // start() is missed.
    bool start(const std::filesystem::path& location = {});

    // Applies every change the kernel has queued so far; true when anything changed.
    // Anything written before this call is seen, which makes a snapshot taken right
    // after it show the disk as it is.
    bool drain();

signals:
    // The displays changed; emitted by drain() and when changes arrive on their own.
    void changed();

private:
    enum Folder { Disk, Tessera, Dynamic, FolderCount };

    void rewatch(const std::filesystem::path& disk);
    void forget(Folder folder);

    std::filesystem::path m_disk;
    QXVirtualDisplays& m_displays;
    int m_inotify = -1;
    int m_watch[FolderCount] = {-1, -1, -1};
    QSocketNotifier* m_notifier = nullptr;
};
