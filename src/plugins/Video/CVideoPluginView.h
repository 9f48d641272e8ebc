#pragma once

#include "CVideoPlayer.h"
#include "kit/CDownloadTask.h"
#include "kit/CQXSelfthreadViewPluginInstanceEx.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <atomic>
#include <mutex>
#include <string>

// What the property frame works the view through, on the GUI thread.
class IVideoPluginViewProps {
public:
    virtual void SetPath(const QString& path) = 0; // keeps it and stores "Path"
    virtual void SetLooping(bool looping) = 0;     // keeps it and stores "Looping"
    virtual void Restart() = 0;
    virtual QString path() const = 0;
    virtual bool looping() const = 0;

protected:
    ~IVideoPluginViewProps() = default;
};

// A video on a key: a file, a stream, or the stream a web page embeds, played on the view's
// own thread by one GStreamer pipeline at a time and drawn fitted and centred on the key.
// Without a "Path" it plays the clip shipped beside the library once. Sound starts muted.
//
// Playing: Restart clears the key and plays the path. An "http://" address is first
// downloaded: a page or stream list (see VideoPage) is searched for the stream it names,
// which is played in turn; any other content type is played directly as a stream. Each
// new source ends the run of the previous one, and the view's thread starts again with
// the new source once that run has ended.
//
// Threads: the program's calls, the page and the actions on the GUI thread; the pipeline
// on the view's thread, woken by events that GStreamer's threads set (a frame, a bus
// message) and by the mute action; the download notifications on a utility thread.
class CVideoPluginView : public IQXPluginGUIController,
                         public CQXSelfthreadViewPluginInstanceEx<CVideoPluginView>,
                         public IVideoPluginViewProps,
                         public IQXPluginDropTarget,
                         public CDownloadTask {
public:
    explicit CVideoPluginView(IQXViewPluginContext* context);
    ~CVideoPluginView() override;

    void Activate() override { Restart(); }
    void Deactivate() override;
    void Release() override;

    IQXPluginGUIController* GetGUIController() override { return this; }
    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override;
    IQXPluginDropTarget* GetDropTarget() override { return this; }
    QXBool AcceptFiles(int32_t /*count*/) override { return 1; }
    QXBool DropFile(const char16_t* path) override;

    void SetPath(const QString& path) override;
    void SetLooping(bool looping) override;
    void Restart() override;
    QString path() const override;
    bool looping() const override;

    // The actions: open the path with the desktop's opener; toggle the sound.
    void defaultAction();
    void DoToggleMute();

    // The address the player runs now or last ran ("" before any); the sound's level
    // (-1 without sound). Any thread.
    std::string source() const;
    double volume() const { return m_player.volume(); }
    // True while a source runs on the view's thread; how many runs have ended.
    bool running() const { return m_running; }
    int runsEnded() const { return m_runsEnded; }

    // The clip played when "Path" is empty: default.ogv beside the library.
    static std::string defaultClip();

    int OnContentType(const char16_t* contentType) override;
    void OnFailed(int error, int httpStatus) override;
    void OnComplete(const unsigned char* body, size_t length) override;

protected:
    void threadBegin() override;
    void wakeUp(uint32_t waitResult) override;
    void threadEnd() override;

private:
    void play(const std::string& address);
    void openDirectly(const std::string& address);
    void drawFrame(const uint8_t* rgb, int width, int height, int stride);

    mutable std::mutex m_mutex; // the fields up to m_pageDepth
    QString m_path;
    bool m_looping = false;
    bool m_loop = false; // the running source's
    std::string m_source;
    std::string m_url; // the page being downloaded
    bool m_urlOpenedDirectly = false;
    int m_pageDepth = 0; // pages followed since the last Restart

    std::mutex m_drawMutex; // the key surface, drawn by the GUI thread and the view's
    CVideoPlayer m_player;
    std::atomic<bool> m_running{false};
    std::atomic<int> m_runsEnded{0};
    std::atomic<int> m_frameEvent{-1}, m_messageEvent{-1}, m_muteEvent{-1};
    QPointer<QWidget> m_page;
};
