// Plug-in libraries built from the kit alone, loaded with dlopen and used through their
// exports only, as the program uses them.

#include "KitTestContext.h"
#include "support/QXTestSupport.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

namespace {

using kittest::KitTestContext;

// Loaded once and never unloaded, as the program keeps its plug-in libraries: the working
// thread may still be returning from a released instance's code.
void* library(const std::string& name) {
    std::string path = std::string(QX_KIT_PLUGINS_DIR) + "/" + name + "/" + name + ".so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle, nullptr) << dlerror();
    return handle;
}

class KitPluginExports : public testing::Test {
protected:
    static void* kitPlugin() {
        static void* handle = library("KitTestPlugin");
        return handle;
    }

    void SetUp() override {
        ASSERT_NE(kitPlugin(), nullptr);
        createView = reinterpret_cast<QXCreateViewFunction>(dlsym(kitPlugin(), "createView"));
        createAction = reinterpret_cast<QXCreateActionFunction>(dlsym(kitPlugin(), "createAction"));
        createCondition =
            reinterpret_cast<QXCreateConditionFunction>(dlsym(kitPlugin(), "createCondition"));
        ASSERT_NE(createView, nullptr);
        ASSERT_NE(createAction, nullptr);
        ASSERT_NE(createCondition, nullptr);
    }

    // Releases the instance and waits until it told its context it is gone.
    static void releaseAndWait(IQXPluginInstance* instance, KitTestContext& context) {
        instance->Release();
        ASSERT_TRUE(qxtest::waitFor([&] { return context.destroyedCount() > 0; }))
            << "the released instance was never destroyed";
        EXPECT_EQ(context.destroyedCount(), 1);
    }

    QXCreateViewFunction createView = nullptr;
    QXCreateActionFunction createAction = nullptr;
    QXCreateConditionFunction createCondition = nullptr;
};

TEST_F(KitPluginExports, IdentifiersOfAnotherKindOrUnknownMakeNothing) {
    KitTestContext context;
    EXPECT_EQ(createView(u"default.action", &context), nullptr);
    EXPECT_EQ(createView(u"Ticker.view", &context), nullptr) << "identifiers compare exactly";
    EXPECT_EQ(createView(u"nothing.view", &context), nullptr);
    EXPECT_EQ(createView(nullptr, &context), nullptr);
    EXPECT_EQ(createAction(u"ticker.view", &context), nullptr);
    EXPECT_EQ(createCondition(u"mute.action", &context), nullptr);
    EXPECT_EQ(context.destroyedCount(), 0);
}

TEST_F(KitPluginExports, LaterRegistrationOfAnIdentifierWins) {
    KitTestContext context;
    IQXViewPluginInstance* view = createView(u"replaced.view", &context);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(context.property(u"class"), u"second");
    releaseAndWait(view, context);
}

TEST_F(KitPluginExports, WorkingThreadViewDrawsUntilDeactivatedAndGoesOnRelease) {
    KitTestContext context;
    IQXViewPluginInstance* view = createView(u"ticker.view", &context);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(context.property(u"class"), u"ticker");
    EXPECT_EQ(view->GetGUIController(), nullptr);
    EXPECT_EQ(view->GetDropTarget(), nullptr);

    view->Activate();
    ASSERT_TRUE(qxtest::waitFor([&] { return context.updateCount() >= 2; }))
        << "the working thread did not update the view";
    EXPECT_EQ(context.bits()[0], 255);
    view->Deactivate();
    int updates = context.updateCount();
    releaseAndWait(view, context);
    EXPECT_EQ(context.updateCount(), updates) << "updated after Deactivate";
}

TEST_F(KitPluginExports, ActionsWorkTheirOwnViewClassOnly) {
    KitTestContext viewContext;
    KitTestContext otherContext;
    KitTestContext actionContext;
    IQXViewPluginInstance* view = createView(u"ticker.view", &viewContext);
    IQXViewPluginInstance* other = createView(u"replaced.view", &otherContext);
    IQXActionPluginInstance* press = createAction(u"default.action", &actionContext);
    IQXActionPluginInstance* mute = createAction(u"mute.action", &actionContext);
    ASSERT_TRUE(view && other && press && mute);

    press->KeyDown(); // no view on the key
    actionContext.setViewInstance(other);
    press->KeyDown();
    mute->KeyDown();
    actionContext.setViewInstance(view);
    press->KeyUp();
    EXPECT_EQ(viewContext.property(u"pressed"), u"") << "an action ran on the wrong view";
    EXPECT_EQ(viewContext.property(u"muted"), u"");

    press->KeyDown();
    mute->KeyDown();
    mute->KeyUp();
    EXPECT_EQ(viewContext.property(u"pressed"), u"default");
    EXPECT_EQ(viewContext.property(u"muted"), u"1");
    mute->KeyDown();
    EXPECT_EQ(viewContext.property(u"muted"), u"0");

    press->Release();
    mute->Release();
    EXPECT_EQ(actionContext.destroyedCount(), 2);
    releaseAndWait(other, otherContext);
    releaseAndWait(view, viewContext);
}

TEST_F(KitPluginExports, ConditionReportsThroughItsContext) {
    KitTestContext context;
    IQXConditionPluginInstance* condition = createCondition(u"on.condition", &context);
    ASSERT_NE(condition, nullptr);
    EXPECT_EQ(context.activeState(), 1);
    releaseAndWait(condition, context);
}

TEST(KitPluginLibrary, ExportsOnlyTheKindsItOffers) {
    void* handle = library("KitViewsOnlyPlugin");
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(dlsym(handle, "createAction"), nullptr);
    EXPECT_EQ(dlsym(handle, "createCondition"), nullptr);
    auto createView = reinterpret_cast<QXCreateViewFunction>(dlsym(handle, "createView"));
    ASSERT_NE(createView, nullptr);

    KitTestContext context;
    IQXViewPluginInstance* view = createView(u"still.view", &context);
    ASSERT_NE(view, nullptr);
    view->Release();
    EXPECT_EQ(context.destroyedCount(), 1);
}

} // namespace
