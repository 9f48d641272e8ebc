#include "CVideoPlayer.h"

#include "VideoFrame.h"
#include "platform/QXLog.h"

#include <chrono>
#include <dlfcn.h>
#include <future>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace {

void ensureInitialised() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

GstElement* make(const char* factory) {
    return gst_element_factory_make(factory, nullptr);
}

// The RGB caps of the fitted size for the stream caps, or null when they carry no size.
GstCaps* fittedCaps(GstCaps* streamCaps) {
    GstVideoInfo info;
    if (!streamCaps || !gst_video_info_from_caps(&info, streamCaps))
        return nullptr;
    const VideoFrame::Size size =
        VideoFrame::fitToKey(GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info));
    if (size.width <= 0)
        return nullptr;
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", "width", G_TYPE_INT,
                               size.width, "height", G_TYPE_INT, size.height, "pixel-aspect-ratio",
                               GST_TYPE_FRACTION, 1, 1, nullptr);
}

// Follows the stream's size: every caps event on the decoded video re-fits the filter
// before the caps reach it.
GstPadProbeReturn refitOnCaps(GstPad* /*pad*/, GstPadProbeInfo* info, gpointer filter) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (event && GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        if (GstCaps* fitted = fittedCaps(caps)) {
            g_object_set(filter, "caps", fitted, nullptr);
            gst_caps_unref(fitted);
        }
    }
    return GST_PAD_PROBE_OK;
}

GstFlowReturn onNewSample(GstAppSink* /*sink*/, gpointer self) {
    auto* notifications = static_cast<CVideoPlayer::Notifications*>(self);
    if (notifications->frameReady)
        notifications->frameReady();
    return GST_FLOW_OK;
}

// Reads the pipeline's messages on the posting thread rather than popping them from the
// bus later: a message told before it reached the bus's queue could be looked for too
// early and missed. Nothing is queued.
GstBusSyncReply onBusMessage(GstBus* /*bus*/, GstMessage* message, gpointer self) {
    static_cast<CVideoPlayer*>(self)->noteBusMessage(message);
    return GST_BUS_DROP;
}

} // namespace

std::string CVideoPlayer::uriFor(const std::string& address) {
    if (address.find("://") != std::string::npos)
        return address;
    ensureInitialised();
    gchar* uri = gst_filename_to_uri(address.c_str(), nullptr);
    if (!uri)
        return address;
    std::string result = uri;
    g_free(uri);
    return result;
}

bool CVideoPlayer::start(const std::string& address, Notifications notifications,
                         std::string& error) {
    stop();
    ensureInitialised();
    m_notifications = std::move(notifications);
    {
        std::lock_guard lock(m_mutex);
        m_pipeline = make("playbin");
    }
    GstElement* scale = make("videoscale");
    GstElement* convert = make("videoconvert");
    GstElement* filter = make("capsfilter");
    GstElement* sink = make("appsink");
    GstElement* volume = make("volume");
    GstElement* output = make("autoaudiosink");
    if (!m_pipeline || !scale || !convert || !filter || !sink || !volume || !output) {
        for (GstElement* element : {m_pipeline, scale, convert, filter, sink, volume, output})
            if (element)
                gst_object_unref(element);
        std::lock_guard lock(m_mutex);
        m_pipeline = nullptr;
        error = "GStreamer elements are missing (gstreamer1.0-plugins-base and -good)";
        return false;
    }

    // The video branch: RGB at the size the picture takes on the key. Until the stream's
    // caps arrive the filter asks for RGB of any size; each caps event re-fits it first.
    GstCaps* rgb = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", nullptr);
    g_object_set(filter, "caps", rgb, nullptr);
    gst_caps_unref(rgb);
    // The end of the stream is told at once, not only once the last frame was taken: the
    // owner takes that frame when it learns of the end.
    g_object_set(sink, "emit-signals", FALSE, "max-buffers", 1u, "drop", TRUE, "sync", TRUE,
                 "wait-on-eos", FALSE, nullptr);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, &m_notifications, nullptr);
    GstElement* videoSink = gst_bin_new(nullptr);
    gst_bin_add_many(GST_BIN(videoSink), scale, convert, filter, sink, nullptr);
    gst_element_link_many(scale, convert, filter, sink, nullptr);
    GstPad* input = gst_element_get_static_pad(scale, "sink");
    gst_pad_add_probe(input, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &refitOnCaps, filter, nullptr);
    gst_element_add_pad(videoSink, gst_ghost_pad_new("sink", input));
    gst_object_unref(input);
    m_sink = sink;

    // The sound: muted at first, the level it had kept for the toggle.
    double level = 1.0;
    g_object_get(volume, "volume", &level, nullptr);
    g_object_set(volume, "volume", 0.0, nullptr);
    {
        std::lock_guard lock(m_mutex);
        m_startVolume = level;
        m_volume = volume;
    }

    // Video and audio only (no subtitles or visualisation); the video branch converts.
    constexpr guint kVideo = 0x1, kAudio = 0x2, kNativeVideo = 0x40;
    g_object_set(m_pipeline, "uri", uriFor(address).c_str(), "flags",
                 kVideo | kAudio | kNativeVideo, "video-sink", videoSink, "audio-filter", volume,
                 "audio-sink", output, nullptr);

    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, &onBusMessage, this, nullptr);
    gst_object_unref(bus);

    if (gst_element_set_state(m_pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The bus says why; an unreadable file or address fails here.
        std::string reason;
        handleMessages(false, reason);
        error = reason.empty() ? "the pipeline did not start" : reason;
        stop();
        return false;
    }
    return true;
}

void CVideoPlayer::stop() {
    if (!m_pipeline)
        return;
    // Nothing of this run reaches the owner any more.
    GstBus* bus = gst_element_get_bus(m_pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    if (m_sink) {
        GstAppSinkCallbacks none{};
        gst_app_sink_set_callbacks(GST_APP_SINK(m_sink), &none, nullptr, nullptr);
    }
    GstElement* pipeline = m_pipeline;
    {
        std::lock_guard lock(m_mutex);
        m_volume = nullptr;
        m_pipeline = nullptr;
        m_ends = 0;
        m_error.clear();
    }
    m_sink = nullptr;

    // Stopping takes moments; a source stuck in a system call may hold it. After 5 s the
    // old run is left to end on a thread of its own, which keeps its pipeline and, as its
    // code is this library's, keeps the library loaded.
    auto stopped = std::make_shared<std::promise<void>>();
    std::future<void> done = stopped->get_future();
    std::thread stopper([pipeline, stopped] {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        stopped->set_value();
    });
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) {
        stopper.join();
        return;
    }
    stopper.detach();
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ensureInitialised), &info) && info.dli_fname)
        dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    QXLog::warning(QXLog::kPlugins, "A video did not stop within 5 s; the next one starts "
                                    "without waiting, and the old one ends on its own");
}

void CVideoPlayer::takeFrame(const FrameSink& sink) {
    if (!m_sink)
        return;
    GstSample* sample = nullptr;
    // The appsink keeps one frame; take whatever is there now.
    while (GstSample* next = gst_app_sink_try_pull_sample(GST_APP_SINK(m_sink), 0)) {
        if (sample)
            gst_sample_unref(sample);
        sample = next;
    }
    if (!sample)
        return;
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const int width = GST_VIDEO_INFO_WIDTH(&info);
        const int height = GST_VIDEO_INFO_HEIGHT(&info);
        const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
        if (width > 0 && height > 0 && map.size >= size_t(stride) * size_t(height - 1) + width * 3u)
            sink(map.data, width, height, stride);
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
}

void CVideoPlayer::noteBusMessage(GstMessage* message) {
    CVideoPlayer* player = this;
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) {
        {
            std::lock_guard lock(player->m_mutex);
            if (type == GST_MESSAGE_EOS) {
                player->m_ends += 1;
            } else {
                GError* error = nullptr;
                gst_message_parse_error(message, &error, nullptr);
                if (player->m_error.empty())
                    player->m_error = error && error->message ? error->message : "unknown error";
                if (error)
                    g_error_free(error);
            }
        }
        if (player->m_notifications.messageReady)
            player->m_notifications.messageReady();
    }
}

CVideoPlayer::Outcome CVideoPlayer::handleMessages(bool loop, std::string& error) {
    int ends = 0;
    {
        std::lock_guard lock(m_mutex);
        ends = std::exchange(m_ends, 0);
        error = std::exchange(m_error, std::string());
    }
    if (!error.empty())
        return Outcome::Failed;
    if (ends == 0 || !m_pipeline)
        return m_pipeline ? Outcome::Playing : Outcome::Ended;
    if (!loop)
        return Outcome::Ended;
    if (!gst_element_seek_simple(m_pipeline, GST_FORMAT_TIME,
                                 GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0)) {
        error = "the stream cannot be played again from its start";
        return Outcome::Failed;
    }
    return Outcome::Playing;
}

void CVideoPlayer::toggleMute() {
    std::lock_guard lock(m_mutex);
    if (!m_volume || !m_pipeline)
        return;
    double level = 0;
    g_object_get(m_volume, "volume", &level, nullptr);
    g_object_set(m_volume, "volume", level == 0.0 ? m_startVolume : 0.0, nullptr);
}

double CVideoPlayer::volume() const {
    std::lock_guard lock(m_mutex);
    if (!m_volume || !m_pipeline)
        return -1;
    gint audioStreams = 0;
    g_object_get(m_pipeline, "n-audio", &audioStreams, nullptr);
    if (audioStreams <= 0)
        return -1;
    double level = 0;
    g_object_get(m_volume, "volume", &level, nullptr);
    return level;
}
