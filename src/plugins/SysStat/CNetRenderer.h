#pragma once

#include "CProcFile.h"
#include "SysStatFigures.h"
#include "SysStatProps.h"
#include "kit/CQXViewPluginInstanceEx.h"

#include <atomic>
#include <mutex>
#include <string>

// The interface counters of the whole library, read from /proc/net/dev at most once every
// 1000 ms however many network views ask, so each rate is measured over a second or more.
// Working thread only.
class CNetCounters {
public:
    static CNetCounters& instance();
    const SysStatFigures::CAdapterTable& refresh(uint32_t now);

private:
    CNetCounters() = default;

    CProcFile m_dev{"/proc/net/dev"};
    std::vector<SysStatFigures::InterfaceCounters> m_reading;
    SysStatFigures::CAdapterTable m_table;
    uint32_t m_readAt = 0;
    bool m_read = false;
};

// "view.sysstat.net": receive and send rates of one interface or the sum over all; its
// property window chooses the interface.
class CNetRenderer : public CQXViewPluginInstanceEx<CNetRenderer, 1000>,
                     public IQXPluginGUIController,
                     public INetWatcherProps {
public:
    explicit CNetRenderer(IQXViewPluginContext* context);

    IQXPluginGUIController* GetGUIController() override { return this; }
    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override { return m_page.destroy(); }

    QString adapter() const override;
    void SetAdapter(const QString& name) override;

    // The next update draws, whatever the figures.
    void Activate() override;
    // Draws and publishes the picture when its text changed since the last drawing.
    void Update() override;

    // The interfaces the system has now, in its order. Any thread.
    static QStringList interfaceNames();

private:
    mutable std::mutex m_mutex; // guards m_adapter between the GUI and working threads
    std::string m_adapter;
    std::atomic<bool> m_drawn{false};
    std::string m_shownReceived; // what the picture shows; working thread
    std::string m_shownSent;
    SysStatProps::PageHolder m_page;
};
