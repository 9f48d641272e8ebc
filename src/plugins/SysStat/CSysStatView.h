#pragma once

#include "CImageCacherSingleton.h"
#include "CProcFile.h"
#include "SysStatFigures.h"
#include "kit/CQXViewPluginInstanceEx.h"
#include "kit/QXKeySurfacePainter.h"

#include <QImage>
#include <QPainter>

// The processor figures of the whole library: the load history from /proc/stat, sampled
// and painted whenever the shared picture is due.
class CCpuRenderer {
public:
    void render(QImage& image, uint32_t now);

    const SysStatFigures::CCpuHistory& history() const { return m_history; }

private:
    CProcFile m_stat{"/proc/stat"};
    SysStatFigures::CCpuHistory m_history;
};

// The base of the views that copy a shared picture onto their key.
class CSysStatViewBase : public CQXViewPluginInstanceEx<CSysStatViewBase, 1000> {
public:
    using CQXViewPluginInstanceEx::CQXViewPluginInstanceEx;
};

// "view.sysstat.cpu" and any view that shows the picture of Cacher, a CImageCacherSingleton:
// each update copies the shared picture, rendered again only when it is due.
template <typename Cacher> class CSysStatView : public CSysStatViewBase {
public:
    using CSysStatViewBase::CSysStatViewBase;

    void Update() override {
        const QImage& picture = Cacher::instance().image(tickCount());
        {
            QXKeySurfacePainter surface(context()->GetDC());
            surface.painter().drawImage(0, 0, picture);
        }
        context()->UpdateImage();
    }
};

using CCpuView = CSysStatView<CImageCacherSingleton<CCpuRenderer, 1000>>;
