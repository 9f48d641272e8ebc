// The Modes plug-in's toggle and hold keys and the toggle page, through the library's
// exports as the program uses them.

#include "ModesTestContext.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <memory>
#include <utility>

namespace {

using modestest::ensureApplication;
using modestest::ModesLibrary;
using modestest::ModesTestContext;

// An instance the test gives back to its library at the end, as the program would.
template <typename I> struct Made {
    std::unique_ptr<ModesTestContext> context;
    I* instance = nullptr;

    Made() = default;
    Made(Made&& other) noexcept
        : context(std::move(other.context)), instance(std::exchange(other.instance, nullptr)) {}

    void release() {
        if (!instance)
            return;
        instance->Release();
        instance = nullptr;
        EXPECT_EQ(context->destroyed(), 1);
    }
    ~Made() { release(); }
};

Made<IQXConditionPluginInstance> condition(const char16_t* id, std::u16string layerID,
                                           std::u16string layerName) {
    Made<IQXConditionPluginInstance> made;
    made.context = std::make_unique<ModesTestContext>(std::move(layerID), std::move(layerName));
    made.instance = ModesLibrary::get().createCondition(id, made.context.get());
    EXPECT_NE(made.instance, nullptr);
    return made;
}

Made<IQXActionPluginInstance> action(const char16_t* id, const char16_t* targetLayer) {
    Made<IQXActionPluginInstance> made;
    made.context = std::make_unique<ModesTestContext>(u"keys", u"Keys");
    made.context->SetProperty(u"LayerID", targetLayer);
    made.instance = ModesLibrary::get().createAction(id, made.context.get());
    EXPECT_NE(made.instance, nullptr);
    return made;
}

TEST(ModesPlugin, HoldAndToggleKeysSwitchEveryModeConditionOfTheirLayer) {
    ASSERT_NE(ModesLibrary::get().createAction, nullptr);
    ASSERT_NE(ModesLibrary::get().createCondition, nullptr);
    auto first = condition(u"mode.condition", u"layer-1", u"Symbols");
    // Any identifier that is not a text mode's makes a mode condition.
    auto second = condition(u"anything", u"layer-1", u"Symbols");
    auto other = condition(u"mode.condition", u"layer-2", u"Numbers");
    auto holdA = action(u"press.action", u"layer-1");
    auto holdB = action(u"press.other", u"layer-1");
    auto toggle = action(u"toggle.action", u"layer-1");
    EXPECT_EQ(first.context->reports(), 0) << "a mode condition starts inactive, unreported";

    auto both = [&](int32_t state) {
        return first.context->active() == state && second.context->active() == state;
    };
    holdA.instance->KeyDown();
    EXPECT_TRUE(both(1));
    holdB.instance->KeyDown();
    holdA.instance->KeyUp();
    EXPECT_TRUE(both(1)) << "the layer stays while one hold key is still down";
    holdB.instance->KeyUp();
    EXPECT_TRUE(both(0)) << "the last hold key released turns the layer off";
    EXPECT_EQ(other.context->active(), -1) << "another layer's condition was never touched";

    for (int i = 0; i < 3; ++i) {
        toggle.instance->KeyDown();
        toggle.instance->KeyUp();
    }
    EXPECT_TRUE(both(1)) << "three toggles leave the layer on";
    holdA.instance->KeyUp();
    EXPECT_TRUE(both(0)) << "releasing a hold key turns a toggled layer off";
    const int reports = first.context->reports();
    holdA.instance->KeyUp();
    EXPECT_EQ(first.context->reports(), reports) << "a release without a press does nothing";

    // An action aimed at a layer without mode conditions does nothing.
    auto stray = action(u"press.action", u"layer-9");
    stray.instance->KeyDown();
    EXPECT_TRUE(both(0));
    EXPECT_EQ(first.context->reports(), reports);
}

TEST(ModesPlugin, TogglePageListsTheLayersHoldingModeConditionsAndStoresTheChoice) {
    ensureApplication();
    // Identifiers sort the other way round from the names: the list follows identifiers.
    auto numbers = condition(u"mode.condition", u"layer-1", u"Symbols");
    auto letters = condition(u"mode.condition", u"layer-2", u"Numbers");
    // A layer the program has not named yet is not offered, and "(None)" leaves it alone.
    auto unnamed = condition(u"mode.condition", u"", u"");
    auto toggle = action(u"toggle.action", u"layer-1");

    QWidget parent;
    IQXPluginGUIController* controller = toggle.instance->GetGUIController();
    ASSERT_NE(controller, nullptr);
    QPointer<QWidget> page = static_cast<QWidget*>(controller->CreateGUI(&parent));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->parentWidget(), &parent);
    auto* list = page->findChild<QComboBox*>(QStringLiteral("layerList"));
    ASSERT_NE(list, nullptr);
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
        names << list->itemText(i);
    EXPECT_EQ(names, QStringList({"(None)", "Symbols", "Numbers"}))
        << "only layers holding a mode condition, in the order of their identifiers";
    EXPECT_EQ(list->currentText(), QStringLiteral("Symbols"));
    auto* tip = page->findChild<QLabel*>(QStringLiteral("2008"));
    ASSERT_NE(tip, nullptr);
    EXPECT_EQ(tip->text(), QStringLiteral("Tip: at first the \"Switch by action\" condition "
                                          "should be added to the target layer."));
    EXPECT_FALSE(tip->accessibleName().isEmpty());

    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(toggle.context->property(u"LayerID"), u"layer-2");
    QTest::keyClick(list, Qt::Key_Home);
    EXPECT_EQ(list->currentText(), QStringLiteral("(None)"));
    EXPECT_EQ(toggle.context->property(u"LayerID"), u"") << "\"(None)\" stores no layer";
    toggle.instance->KeyDown();
    EXPECT_EQ(numbers.context->reports(), 0) << "a toggle without a layer does nothing";
    EXPECT_EQ(letters.context->reports(), 0);
    EXPECT_EQ(unnamed.context->reports(), 0);

    EXPECT_EQ(controller->DestroyGUI(), 1);
    EXPECT_FALSE(page);
    EXPECT_EQ(controller->DestroyGUI(), 0);

    // A layer whose last mode condition went is no longer offered.
    letters.release();
    page = static_cast<QWidget*>(controller->CreateGUI(&parent));
    ASSERT_TRUE(page);
    list = page->findChild<QComboBox*>(QStringLiteral("layerList"));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count(), 2);
    EXPECT_EQ(list->currentText(), QStringLiteral("(None)"));
    // The action goes with its page open, as when its key is deleted.
    toggle.release();
    EXPECT_FALSE(page);
}

} // namespace
