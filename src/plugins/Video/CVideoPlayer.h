#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

// One run of a GStreamer pipeline that plays an address on a key:
//
//   playbin (uridecodebin) --video--> videoscale ! videoconvert ! RGB at the fitted size ! appsink
//                          --audio--> converters ! volume ! autoaudiosink
//
// The picture is scaled inside the pipeline to the size it takes on the key, fitted again
// whenever the stream's size changes, so nothing is decoded to full size and scaled
// afterwards. The appsink keeps only the newest frame and runs at the clip's clock. Sound
// starts muted; toggleMute switches between silence and the volume the pipeline started
// with.
//
// Threads: start, stop, takeFrame, handleMessages and toggleMute on the owner's thread (the
// view's); the two notifications come from GStreamer's threads and only wake the owner.
// volume() from any thread.
class CVideoPlayer {
public:
    struct Notifications {
        std::function<void()> frameReady;   // a new frame waits in the appsink
        std::function<void()> messageReady; // the stream ended or failed
    };
    using FrameSink = std::function<void(const uint8_t* rgb, int width, int height, int stride)>;

    CVideoPlayer() = default;
    ~CVideoPlayer() { stop(); }
    CVideoPlayer(const CVideoPlayer&) = delete;
    CVideoPlayer& operator=(const CVideoPlayer&) = delete;

    // Builds the pipeline for address (a path, or an address with a scheme GStreamer
    // reads) and sets it playing. False, with the reason in error, when that failed.
    bool start(const std::string& address, Notifications notifications, std::string& error);
    // Stops and frees the pipeline; no notification follows. Nothing when none runs.
    // Waits at most 5 s: a pipeline that takes longer is left to stop on its own thread.
    void stop();

    // Hands the newest frame, if any, to sink.
    void takeFrame(const FrameSink& sink);

    enum class Outcome { Playing, Ended, Failed };
    // Handles what the bus told: at the end of the stream a looping player seeks to the start and
    // goes on (Playing), otherwise Ended; an error is Failed with its text in error.
    Outcome handleMessages(bool loop, std::string& error);

    void toggleMute();
    // The volume element's level (0 silent, 1 full); -1 while the stream has no sound.
    double volume() const;

    // For the bus's handler, on the thread that posts a message: notes an end of the
    // stream or an error and wakes the owner.
    void noteBusMessage(GstMessage* message);

    // The "file://" address GStreamer opens for a path; other addresses as they are.
    static std::string uriFor(const std::string& address);

private:
    // Written only by the owner's thread, under m_mutex; read there without it.
    GstElement* m_pipeline = nullptr;
    GstElement* m_sink = nullptr; // the appsink, owned by the pipeline
    Notifications m_notifications;
    mutable std::mutex m_mutex;     // m_pipeline's writes and the fields below
    double m_startVolume = 1.0;     // the level the volume element started with
    GstElement* m_volume = nullptr; // owned by the pipeline
    int m_ends = 0;                 // ends of the stream not handled yet
    std::string m_error;            // the first error not handled yet
};
