#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <filesystem>

class QXDispatch;

// Watches the folder where layer pictures wait for an outside editor, and each file in
// it, and posts 2033 to the dispatch when anything there changes (editors write in place
// or replace the file; both are seen). Runs on the GUI thread.
class QXEditorFolderWatcher : public QObject {
public:
    QXEditorFolderWatcher(const std::filesystem::path& folder, QXDispatch& dispatch);

private:
    void changed();
    void watchFiles();

    QFileSystemWatcher m_watcher;
    QString m_folder;
    QXDispatch& m_dispatch;
};
