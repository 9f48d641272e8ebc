#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace kittest {

// Stands in for the program: the context of one view, action or condition instance. It
// counts what the instance tells it and owns a key surface, cleared to black.
class KitTestContext : public IQXViewPluginContext,
                       public IQXActionPluginContext,
                       public IQXConditionPluginContext {
public:
    KitTestContext() {
        m_surface.bits = m_bits.data();
        m_surface.width = 48;
        m_surface.height = 48;
        m_surface.stride = 48 * 3;
    }
    virtual ~KitTestContext() = default;

    void SetProperty(const char16_t* name, const char16_t* value) override {
        if (!name || !value)
            return;
        std::lock_guard lock(m_mutex);
        m_properties[name] = value;
    }
    QXBool GetProperty(const char16_t* name, char16_t* out) override {
        if (!name || !out)
            return 0;
        out[0] = 0;
        std::lock_guard lock(m_mutex);
        auto it = m_properties.find(name);
        if (it == m_properties.end())
            return 0;
        it->second.copy(out, kQXTextCapacity - 1);
        out[std::min<size_t>(it->second.size(), kQXTextCapacity - 1)] = 0;
        return 1;
    }
    void GetLayerID(char16_t* out) override {
        if (out)
            out[0] = 0;
    }
    void GetLayerName(char16_t* out) override {
        if (out)
            out[0] = 0;
    }
    void InstanceDestroyed() override { ++m_destroyed; }

    IQXActionPluginInstance* GetActionInstance() override { return nullptr; }
    int32_t GetKeyRow() override { return 0; }
    int32_t GetKeyPlace() override { return 0; }
    int32_t GetKeyX() override { return 37; }
    int32_t GetKeyY() override { return 11; }
    QXDrawingSurface* GetDC() override { return &m_surface; }
    void UpdateImage() override { ++m_updates; }

    IQXViewPluginInstance* GetViewInstance() override { return m_view; }

    void SetActive(int32_t state) override { m_active = state; }

    // For the test.
    std::u16string property(std::u16string_view name) {
        std::lock_guard lock(m_mutex);
        auto it = m_properties.find(std::u16string(name));
        return it == m_properties.end() ? std::u16string() : it->second;
    }
    int destroyedCount() const { return m_destroyed; }
    int updateCount() const { return m_updates; }
    int32_t activeState() const { return m_active; }
    void setViewInstance(IQXViewPluginInstance* view) { m_view = view; }
    unsigned char* bits() { return m_bits.data(); }

private:
    std::mutex m_mutex;
    std::map<std::u16string, std::u16string> m_properties;
    std::atomic<int> m_destroyed{0};
    std::atomic<int> m_updates{0};
    std::atomic<int32_t> m_active{0};
    std::atomic<IQXViewPluginInstance*> m_view{nullptr};
    std::array<unsigned char, 48 * 48 * 3> m_bits{};
    QXDrawingSurface m_surface{};
};

} // namespace kittest
