// The SysStat plug-in through the built library's exports: live views on the real working
// thread, the shared processor picture, the property windows and the monitor action.

#include "CSysStatView.h"
#include "KitTestContext.h"
#include "SysStatTestSupport.h"
#include "support/QXTestSupport.h"

#include <QComboBox>
#include <QWidget>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

using kittest::KitTestContext;

namespace {

void* library() {
    static void* handle = [] {
        std::string path = std::string(QX_PROGRAM_DIR) + "/Plugins/SysStat/SysStat.so";
        void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(h, nullptr) << dlerror();
        return h;
    }();
    return handle;
}

IQXViewPluginInstance* createView(const char16_t* id, IQXViewPluginContext* context) {
    auto create = reinterpret_cast<QXCreateViewFunction>(dlsym(library(), "createView"));
    return create ? create(id, context) : nullptr;
}

IQXActionPluginInstance* createAction(const char16_t* id, IQXActionPluginContext* context) {
    auto create = reinterpret_cast<QXCreateActionFunction>(dlsym(library(), "createAction"));
    return create ? create(id, context) : nullptr;
}

// The key picture of a context, top-down.
QImage picture(KitTestContext& context) {
    QImage image(48, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
            const unsigned char* p = context.bits() + (47 - y) * 144 + x * 3;
            image.setPixel(x, y, qRgb(p[2], p[1], p[0]));
        }
    return image;
}

// A view made through the export, released (and so deleted on the working thread) at the end.
struct LiveView {
    KitTestContext context;
    IQXViewPluginInstance* view = nullptr;

    LiveView(const char16_t* id,
             std::initializer_list<std::pair<const char16_t*, const char16_t*>> props = {}) {
        for (auto [name, value] : props)
            context.SetProperty(name, value);
        view = createView(id, &context);
    }
    ~LiveView() {
        if (!view)
            return;
        view->Deactivate();
        view->Release();
        EXPECT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() == 1; }));
    }
};

// A renderer that counts its samples and paints the count, for the sharing rule; its third
// sample leaves the picture as it was.
struct CountingRenderer {
    int samples = 0;
    bool render(QImage& image, uint32_t) {
        if (++samples == 3)
            return false;
        image.setPixel(0, 0, qRgb(samples, 0, 0));
        return true;
    }
};
using CountingCacher = CImageCacherSingleton<CountingRenderer, 1000>;

// A processor view on a clock the test sets.
class ClockedView : public CSysStatView<CountingCacher> {
public:
    ClockedView(IQXViewPluginContext* context, const uint32_t* clock)
        : CSysStatView(context), m_clock(clock) {}

protected:
    uint32_t tickCount() const override { return *m_clock; }

private:
    const uint32_t* m_clock;
};

} // namespace

TEST(SysStatPlugin, LiveViewsDrawFromTheSystemAndProcessorKeysShowOnePicture) {
    sysstattest::ensureApplication();
    LiveView cpu1(u"view.sysstat.cpu");
    LiveView cpu2(u"view.sysstat.cpu");
    LiveView mem(u"view.sysstat.mem");
    LiveView net(u"view.sysstat.net", {{u"Adapter", u"lo"}});
    EXPECT_EQ(createView(u"view.sysstat.disk", &mem.context), nullptr);
    for (LiveView* live : {&cpu1, &cpu2, &mem, &net}) {
        ASSERT_NE(live->view, nullptr);
        live->view->Activate();
    }
    // Keys draw again only when their picture changes: one update each is sure.
    ASSERT_TRUE(qxtest::waitFor([&] {
        return cpu1.context.updateCount() >= 1 && cpu2.context.updateCount() >= 1 &&
               mem.context.updateCount() >= 1 && net.context.updateCount() >= 1;
    }));
    // Both processor keys update in the same tick: the first renders, the second copies.
    EXPECT_TRUE(qxtest::waitFor([&] { return picture(cpu1.context) == picture(cpu2.context); }));
    QImage cpu = picture(cpu1.context);
    EXPECT_GE(sysstattest::inkIn(cpu, QRect(0, 46, 48, 2)), 16 * 2 * 2) << "a square per column";
    EXPECT_GT(sysstattest::inkIn(cpu, QRect(0, 0, 48, 14)), 10) << "no percentage";
    QImage memory = picture(mem.context);
    EXPECT_EQ(sysstattest::inkIn(memory, QRect(0, 44, 48, 4)), 48 * 4) << "no load bar";
    EXPECT_GT(sysstattest::inkIn(memory, QRect(0, 14, 48, 20)), 20) << "no figure";
    QImage network = picture(net.context);
    EXPECT_GT(sysstattest::inkIn(network, QRect(0, 4, 48, 16)), 10) << "no receive rate";
    EXPECT_GT(sysstattest::inkIn(network, QRect(0, 28, 48, 16)), 10) << "no send rate";
}

// A picture that changes every second, on the real working thread: its updates tell the
// test that seconds passed.
struct ChangingRenderer {
    int samples = 0;
    bool render(QImage& image, uint32_t) {
        image.setPixel(0, 0, qRgb(++samples & 0xFF, 1, 1));
        return true;
    }
};
using SecondsView = CSysStatView<CImageCacherSingleton<ChangingRenderer, 1000>>;

TEST(SysStatPlugin, AnUnchangedNetworkKeyIsNotRedrawnUntilShownAgain) {
    sysstattest::ensureApplication();
    KitTestContext secondsContext;
    auto* seconds = new SecondsView(&secondsContext);
    LiveView net(u"view.sysstat.net", {{u"Adapter", u"qx-absent0"}});
    seconds->Activate();
    net.view->Activate();
    // An absent interface reads 0 B/s for ever: one picture, however many seconds pass.
    ASSERT_TRUE(qxtest::waitFor([&] { return secondsContext.updateCount() >= 3; }));
    EXPECT_EQ(net.context.updateCount(), 1);
    net.view->Deactivate();
    net.view->Activate();
    EXPECT_TRUE(qxtest::waitFor([&] { return net.context.updateCount() == 2; }));
    seconds->Deactivate();
    seconds->Release();
    EXPECT_TRUE(qxtest::waitFor([&] { return secondsContext.destroyedCount() == 1; }));
}

TEST(SysStatPlugin, ProcessorViewsShareOneSampleASecond) {
    sysstattest::ensureApplication();
    uint32_t clock = 50000;
    KitTestContext c1, c2;
    auto* v1 = new ClockedView(&c1, &clock);
    auto* v2 = new ClockedView(&c2, &clock);
    int& samples = CountingCacher::instance().renderer().samples;
    // The working thread's 100 ms ticks over 5 s, the second view 40 ms behind the first.
    for (int tick = 0; tick < 50; ++tick) {
        clock = 50000 + 100 * tick;
        v1->tickAt(clock);
        clock += 40;
        v2->tickAt(clock);
        ASSERT_EQ(picture(c1), picture(c2)) << "tick " << tick;
    }
    // Each view is due every 1.1 s (5 times from 0 to 4.9 s); together they sample no more,
    // and the sample that changed nothing is not published.
    EXPECT_EQ(samples, 5);
    EXPECT_EQ(c1.updateCount(), 4);
    EXPECT_EQ(c2.updateCount(), 4);
    delete v1;
    delete v2;
}

TEST(SysStatPlugin, PropertyWindowsReadAndStoreTheChoice) {
    sysstattest::ensureApplication();
    QWidget parent;
    parent.resize(300, 200);
    for (auto [stored, shown] : {std::pair{u"7", 2}, std::pair{u"-1", 0}}) {
        LiveView mem(u"view.sysstat.mem", {{u"MemoryType", stored}});
        ASSERT_NE(mem.view->GetGUIController(), nullptr);
        auto* page = static_cast<QWidget*>(mem.view->GetGUIController()->CreateGUI(&parent));
        auto* list = page->findChild<QComboBox*>(QStringLiteral("740"));
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->count(), 3);
        EXPECT_EQ(list->currentIndex(), shown);
        EXPECT_EQ(list->width(), 300) << "the list takes the parent's width";
        list->setCurrentIndex(1);
        EXPECT_EQ(mem.context.property(u"MemoryType"), u"1");
        EXPECT_EQ(mem.view->GetGUIController()->DestroyGUI(), 1);
    }

    LiveView net(u"view.sysstat.net");
    auto* page = static_cast<QWidget*>(net.view->GetGUIController()->CreateGUI(&parent));
    auto* list = page->findChild<QComboBox*>(QStringLiteral("742"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->currentText(), QStringLiteral("All adapters"));
    // Dropping down lists the system's interfaces; loopback is there in any network namespace.
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(list->itemText(0), QStringLiteral("All adapters"));
    int loopback = list->findText(QStringLiteral("lo"));
    ASSERT_GT(loopback, 0);
    EXPECT_TRUE(net.context.property(u"Adapter").empty()) << "rebuilding stored something";
    list->setCurrentIndex(loopback);
    EXPECT_EQ(net.context.property(u"Adapter"), u"lo");
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(list->currentText(), QStringLiteral("lo")) << "the stored choice stays selected";
    list->setCurrentIndex(0);
    EXPECT_EQ(net.context.property(u"Adapter"), u"");
}

TEST(SysStatPlugin, ActionStartsTheFirstSystemMonitorOnPath) {
    qxtest::TempDir dir;
    std::filesystem::path record = dir / "started";
    auto script = [&](const std::string& name) {
        std::filesystem::path path = dir / "bin" / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> '" << record.string()
                            << "'\n";
        ::chmod(path.c_str(), 0755);
    };
    qxtest::ScopedEnv path("PATH", (dir / "bin").string());
    KitTestContext context;
    std::unique_ptr<IQXActionPluginInstance, void (*)(IQXActionPluginInstance*)> action(
        createAction(u"anything", &context), [](IQXActionPluginInstance* a) { a->Release(); });
    ASSERT_NE(action, nullptr);

    action->KeyDown(); // none on PATH: nothing happens
    action->KeyUp();
    EXPECT_FALSE(std::filesystem::exists(record));

    script("xfce4-taskmanager");
    script("plasma-systemmonitor");
    action->KeyDown();
    ASSERT_TRUE(qxtest::waitFor([&] { return std::filesystem::exists(record); }));
    EXPECT_TRUE(
        qxtest::waitFor([&] { return qxtest::readFile(record) == "plasma-systemmonitor \n"; }));

    std::filesystem::remove(record);
    script("gnome-system-monitor");
    action->KeyDown();
    EXPECT_TRUE(qxtest::waitFor([&] {
        return std::filesystem::exists(record) &&
               qxtest::readFile(record) == "gnome-system-monitor --show-resources-tab\n";
    }));
}
