#pragma once

#include "CImageCacherSingleton.h"
#include "CProcFile.h"
#include "SysStatFigures.h"
#include "kit/CQXViewPluginInstanceEx.h"
#include "kit/QXKeySurfacePainter.h"

#include <QImage>
#include <QPainter>
#include <array>
#include <atomic>

// The processor figures of the whole library: the load history from /proc/stat, sampled
// whenever the shared picture is due, and painted again only when the picture would differ
// (at rest every column holds one square and the text stays, though the history moves on).
class CCpuRenderer {
public:
    bool render(QImage& image, uint32_t now);

    const SysStatFigures::CCpuHistory& history() const { return m_history; }

private:
    // What the picture shows: the text's load, and per column its squares and red squares.
    using Shown = std::array<int, 1 + 2 * SysStatFigures::CCpuHistory::kLength>;
    Shown shown() const;

    CProcFile m_stat{"/proc/stat"};
    SysStatFigures::CCpuHistory m_history;
    Shown m_shown{};
    bool m_painted = false;
};

// The base of the views that copy a shared picture onto their key.
class CSysStatViewBase : public CQXViewPluginInstanceEx<CSysStatViewBase, 1000> {
public:
    using CQXViewPluginInstanceEx::CQXViewPluginInstanceEx;
};

// "view.sysstat.cpu" and any view that shows the picture of Cacher, a CImageCacherSingleton:
// each update asks for the shared picture, rendered again only when it is due, and copies
// it when it changed since this view last did.
template <typename Cacher> class CSysStatView : public CSysStatViewBase {
public:
    using CSysStatViewBase::CSysStatViewBase;

    // The next update copies the picture, changed or not.
    void Activate() override {
        m_shownVersion.store(0);
        CSysStatViewBase::Activate();
    }

    void Update() override {
        Cacher& cacher = Cacher::instance();
        const QImage& picture = cacher.image(tickCount());
        if (cacher.version() == m_shownVersion.load())
            return;
        {
            QXKeySurfacePainter surface(context()->GetDC());
            surface.painter().drawImage(0, 0, picture);
        }
        context()->UpdateImage();
        m_shownVersion.store(cacher.version());
    }

private:
    std::atomic<uint64_t> m_shownVersion{0}; // 0: nothing copied since Activate
};

using CCpuView = CSysStatView<CImageCacherSingleton<CCpuRenderer, 1000>>;
