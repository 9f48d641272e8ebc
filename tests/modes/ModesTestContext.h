#pragma once

#include "kit/KitTestContext.h"
#include "pluginhost/QXPluginInterfaces.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <atomic>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

namespace modestest {

// Stands in for the program: the context of one action or condition of the Modes plug-in,
// in a layer of the given identifier and name, noting every state a condition reports.
class ModesTestContext : public kittest::KitTestContext {
public:
    explicit ModesTestContext(std::u16string layerID = {}, std::u16string layerName = {})
        : m_layerID(std::move(layerID)), m_layerName(std::move(layerName)) {}

    void GetLayerID(char16_t* out) override { copy(m_layerID, out); }
    void GetLayerName(char16_t* out) override { copy(m_layerName, out); }
    void SetActive(int32_t state) override {
        m_active = state;
        ++m_reports;
    }

    int32_t active() const { return m_active; }
    int reports() const { return m_reports; }
    int destroyed() const { return destroyedCount(); }

private:
    static void copy(const std::u16string& text, char16_t* out) {
        if (out)
            out[text.copy(out, kQXTextCapacity - 1)] = 0;
    }

    std::u16string m_layerID;
    std::u16string m_layerName;
    std::atomic<int32_t> m_active{-1}; // -1: never reported
    std::atomic<int> m_reports{0};
};

// A Qt application on the offscreen platform, for the pages, kept to the end.
inline void ensureApplication() {
    if (!QCoreApplication::instance()) {
        static int argc = 1;
        static char name[] = "modes_tests";
        static char* argv[] = {name, nullptr};
        qputenv("QT_QPA_PLATFORM", "offscreen"); // never the developer's desktop
        new QApplication(argc, argv);
    }
}

// The built library, loaded once and kept, as the program keeps its plug-ins.
struct ModesLibrary {
    QXCreateActionFunction createAction = nullptr;
    QXCreateConditionFunction createCondition = nullptr;

    static const ModesLibrary& get() {
        static const ModesLibrary library = [] {
            ModesLibrary result;
            void* handle = dlopen(QX_MODES_PLUGIN, RTLD_NOW | RTLD_LOCAL);
            EXPECT_NE(handle, nullptr) << dlerror();
            if (handle) {
                result.createAction =
                    reinterpret_cast<QXCreateActionFunction>(dlsym(handle, "createAction"));
                result.createCondition =
                    reinterpret_cast<QXCreateConditionFunction>(dlsym(handle, "createCondition"));
            }
            return result;
        }();
        return library;
    }
};

} // namespace modestest
