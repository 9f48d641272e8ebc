#include "app/QXEditorFolderWatcher.h"

#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QDir>

QXEditorFolderWatcher::QXEditorFolderWatcher(const std::filesystem::path& folder,
                                             QXDispatch& dispatch)
    : m_folder(QString::fromStdString(folder.string())), m_dispatch(dispatch) {
    m_watcher.addPath(m_folder);
    watchFiles();
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { changed(); });
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { changed(); });
}

void QXEditorFolderWatcher::changed() {
    // A file replaced by rename drops out of the watch; watch what is there now.
    watchFiles();
    m_dispatch.Post(QXM_SHELL_CHANGE);
}

void QXEditorFolderWatcher::watchFiles() {
    const QStringList files = QDir(m_folder).entryList(QDir::Files);
    QStringList paths;
    for (const QString& file : files)
        paths << QDir(m_folder).filePath(file);
    const QStringList watched = m_watcher.files();
    for (const QString& path : paths)
        if (!watched.contains(path))
            m_watcher.addPath(path);
}
