// The three views' updates: read the kernel's figures, paint, publish.

#include "CMemRenderer.h"
#include "CNetRenderer.h"
#include "CSysStatView.h"
#include "SysStatGUI.h"
#include "SysStatPictures.h"
#include "kit/QXKeySurfacePainter.h"

#include <QPainter>
#include <QStringList>
#include <algorithm>
#include <fstream>
#include <sstream>

CCpuRenderer::Shown CCpuRenderer::shown() const {
    Shown shown{};
    shown[0] = m_history.newest().load;
    size_t at = 1;
    for (const SysStatFigures::CpuSample& sample : m_history.samples()) {
        int squares = sample.load / 10 + 1;
        shown[at++] = squares;
        shown[at++] = std::min(sample.kernel / 10, squares);
    }
    return shown;
}

bool CCpuRenderer::render(QImage& image, uint32_t /*now*/) {
    // A reading that fails, or comes with no time passed, leaves the history as it was.
    SysStatFigures::CpuTimes times;
    if (SysStatFigures::parseProcStat(m_stat.read(), times))
        m_history.add(times);
    Shown now = shown();
    if (m_painted && now == m_shown)
        return false;
    QPainter painter(&image);
    SysStatPictures::paintCpu(painter, m_history);
    m_shown = now;
    m_painted = true;
    return true;
}

CMemRenderer::CMemRenderer(IQXViewPluginContext* context)
    : CQXViewPluginInstanceEx(context),
      m_kind(SysStatFigures::memoryKindFromText(
          SysStatProps::read(context, u"MemoryType").toStdU16String())) {}

QXWindowHandle CMemRenderer::CreateGUI(QXWindowHandle parent) {
    return m_page.show(new CMemWatcherGUI(this, static_cast<QWidget*>(parent)));
}

void CMemRenderer::SetMemoryType(int index) {
    m_kind.store(index, std::memory_order_relaxed);
    SysStatProps::write(context(), u"MemoryType", QString::number(index));
}

void CMemRenderer::Activate() {
    m_drawn.store(false);
    CQXViewPluginInstanceEx::Activate();
}

void CMemRenderer::Update() {
    // Unreadable figures keep the last picture.
    SysStatFigures::MemInfo info;
    if (!SysStatFigures::parseMeminfo(m_meminfo.read(), info))
        return;
    uint32_t mib = SysStatFigures::availableMiB(info, memoryType());
    int load = SysStatFigures::physicalLoadPercent(info);
    if (m_drawn.load() && mib == m_shownMiB && load == m_shownLoad)
        return;
    {
        QXKeySurfacePainter surface(context()->GetDC());
        SysStatPictures::paintMem(surface.painter(), mib, load);
    }
    context()->UpdateImage();
    m_shownMiB = mib;
    m_shownLoad = load;
    m_drawn.store(true);
}

CNetCounters& CNetCounters::instance() {
    static CNetCounters counters;
    return counters;
}

const SysStatFigures::CAdapterTable& CNetCounters::refresh(uint32_t now) {
    if (!m_read || now - m_readAt >= 1000) {
        // A failed reading lists no interface, and so changes no rate.
        SysStatFigures::parseNetDev(m_dev.read(), m_reading);
        m_table.update(m_reading, now);
        m_readAt = now;
        m_read = true;
    }
    return m_table;
}

CNetRenderer::CNetRenderer(IQXViewPluginContext* context)
    : CQXViewPluginInstanceEx(context),
      m_adapter(SysStatProps::read(context, u"Adapter").toStdString()) {}

QXWindowHandle CNetRenderer::CreateGUI(QXWindowHandle parent) {
    return m_page.show(new CNetworkingWatcherGUI(this, static_cast<QWidget*>(parent)));
}

QString CNetRenderer::adapter() const {
    std::lock_guard lock(m_mutex);
    return QString::fromStdString(m_adapter);
}

void CNetRenderer::SetAdapter(const QString& name) {
    {
        std::lock_guard lock(m_mutex);
        m_adapter = name.toStdString();
    }
    SysStatProps::write(context(), u"Adapter", name);
}

void CNetRenderer::Activate() {
    m_drawn.store(false);
    CQXViewPluginInstanceEx::Activate();
}

void CNetRenderer::Update() {
    const SysStatFigures::CAdapterTable& table = CNetCounters::instance().refresh(tickCount());
    SysStatFigures::CAdapterTable::Rates rates;
    {
        std::lock_guard lock(m_mutex);
        rates = table.rates(m_adapter);
    }
    std::string received = SysStatFigures::formatRate(rates.received);
    std::string sent = SysStatFigures::formatRate(rates.sent);
    if (m_drawn.load() && received == m_shownReceived && sent == m_shownSent)
        return;
    {
        QXKeySurfacePainter surface(context()->GetDC());
        SysStatPictures::paintNet(surface.painter(), rates.received, rates.sent);
    }
    context()->UpdateImage();
    m_shownReceived = std::move(received);
    m_shownSent = std::move(sent);
    m_drawn.store(true);
}

QStringList CNetRenderer::interfaceNames() {
    // Read once per drop-down, on the GUI thread: a file of its own, not the working thread's.
    std::ifstream file("/proc/net/dev");
    std::stringstream text;
    text << file.rdbuf();
    std::vector<SysStatFigures::InterfaceCounters> interfaces;
    SysStatFigures::parseNetDev(text.str(), interfaces);
    QStringList names;
    for (const auto& interface : interfaces)
        names << QString::fromStdString(interface.name);
    return names;
}
