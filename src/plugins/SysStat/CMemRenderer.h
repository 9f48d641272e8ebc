#pragma once

#include "CProcFile.h"
#include "SysStatProps.h"
#include "kit/CQXViewPluginInstanceEx.h"

#include <atomic>

// "view.sysstat.mem": available memory of the chosen kind in MB from /proc/meminfo, with the
// physical memory load as a bar; its property window chooses the kind.
class CMemRenderer : public CQXViewPluginInstanceEx<CMemRenderer, 1000>,
                     public IQXPluginGUIController,
                     public IMemWatcherProps {
public:
    explicit CMemRenderer(IQXViewPluginContext* context);

    IQXPluginGUIController* GetGUIController() override { return this; }
    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override { return m_page.destroy(); }

    int memoryType() const override { return m_kind.load(std::memory_order_relaxed); }
    void SetMemoryType(int index) override;

    // The next update draws, whatever the figures.
    void Activate() override;
    // Draws and publishes the picture when its figures changed since the last drawing.
    void Update() override;

private:
    std::atomic<int> m_kind; // written on the GUI thread, read by the next update
    std::atomic<bool> m_drawn{false};
    uint32_t m_shownMiB = 0; // what the picture shows; working thread
    int m_shownLoad = 0;
    CProcFile m_meminfo{"/proc/meminfo"};
    SysStatProps::PageHolder m_page;
};
