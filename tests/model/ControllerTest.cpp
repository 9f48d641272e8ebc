#include "model/QXKeyTable.h"
#include "model/QXLayersController.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <map>

namespace fs = std::filesystem;

namespace {

constexpr size_t kKey5 = 23, kKey6 = 24, kEscape = 0;

struct FakeState : QXSystemState {
    uint32_t modifiers = 0;
    bool connected = true;
    uint32_t modifierState() const override { return modifiers; }
    bool isKeyboardConnected() const override { return connected; }
};

// A view that remembers whether it is shown, and an action that logs presses.
struct View : QXKeyViewInstance {
    bool shown = false;
    int shows = 0;
    void show() override {
        shown = true;
        ++shows;
    }
    void hide() override { shown = false; }
    bool isShown() const override { return shown; }
};
struct Action : QXKeyActionInstance {
    std::vector<int>* log;
    int id;
    Action(std::vector<int>* l, int i) : log(l), id(i) {}
    void keyEvent(int, int state) override { log->push_back(id * 10 + state); }
};

class ControllerTest : public ::testing::Test {
protected:
    ControllerTest() {
        QXSystemState::setCurrent(&m_state);
        m_dispatch.RegisterHandler(QXM_KEY_CHANGED, this, &ControllerTest::keyChanged);
        m_dispatch.RegisterHandler(QXM_LAYER_STATE_CHANGED, this, &ControllerTest::stateChanged);
        m_dispatch.RegisterHandler(QXM_LAYERS_CHANGED, this, &ControllerTest::layersChanged);
        m_user = makeQX<QXLayersGroup>(u"user_layers");
        m_user->addCondition(makeQX<QXSysCondition>());
        m_system = makeQX<QXLayersGroup>(u"system_layers");
        m_tree.topLevel() = {m_user, m_system};
    }
    ~ControllerTest() override { QXSystemState::setCurrent(nullptr); }

    QXLayer::Ptr layer(const QXPtr<QXLayersGroup>& group, const std::u16string& id) {
        auto l = makeQX<QXLayer>(id);
        group->children().push_back(l);
        return l;
    }
    QXPtr<View> view(QXLayer& l, size_t key) {
        auto v = makeQX<View>();
        l.getButton(key)->view = v;
        return v;
    }
    void action(QXLayer& l, size_t key, int id) {
        l.getButton(key)->action = makeQX<Action>(&m_presses, id);
    }

    void keyChanged(unsigned key) { ++m_keyChanges[key]; }
    void stateChanged() { ++m_stateChanges; }
    void layersChanged(const char16_t* id) { m_layersChanged.push_back(id); }

    qxtest::TempDir m_runtime;
    qxtest::ScopedEnv m_env{"XDG_RUNTIME_DIR", m_runtime.path().string()};
    FakeState m_state;
    QXDispatch m_dispatch;
    QXLayerTree m_tree;
    QXPtr<QXLayersGroup> m_user, m_system;
    std::vector<int> m_presses;
    std::map<unsigned, int> m_keyChanges;
    int m_stateChanges = 0;
    std::vector<std::u16string> m_layersChanged;
};

TEST_F(ControllerTest, TheLayerListedFirstWinsAKeyAndTheOtherStillShowsItsOtherKeys) {
    auto top = layer(m_user, u"top"), below = layer(m_user, u"below");
    auto topView = view(*top, kKey5), belowView = view(*below, kKey5), belowSix = view(*below, kKey6);
    action(*top, kKey5, 1);
    action(*below, kKey5, 2);
    QXLayersController controller(m_tree, m_dispatch);
    controller.reevaluate();
    EXPECT_TRUE(topView->shown);
    EXPECT_FALSE(belowView->shown);
    EXPECT_TRUE(belowSix->shown);
    controller.keyEvent(kKey5, 1);
    controller.keyEvent(kKey5, 0);
    EXPECT_EQ(m_presses, (std::vector<int>{11, 10}));
    EXPECT_EQ(m_stateChanges, 1);

    top->getButton(kKey6)->actionCode = 0x40; // an action code alone hides nothing
    controller.rebuild();
    EXPECT_TRUE(belowSix->shown);
    EXPECT_EQ(controller.activeStack().winner(kKey6), below);
}

TEST_F(ControllerTest, ASelectedDisabledLayerShowsOnTopButKeysGoToTheActiveStack) {
    auto normal = layer(m_user, u"normal"), off = layer(m_user, u"off");
    auto normalView = view(*normal, kKey5), offView = view(*off, kKey5);
    action(*normal, kKey5, 1);
    action(*off, kKey5, 2);
    off->clearFlag(QXLayersItem::kEnabled);
    QXLayersController controller(m_tree, m_dispatch);
    controller.reevaluate();
    EXPECT_FALSE(off->isActive());

    controller.selectItem(off);
    EXPECT_TRUE(offView->shown) << "the selected layer's picture is on top";
    EXPECT_FALSE(normalView->shown);
    EXPECT_EQ(controller.pictureStack().winner(kKey5), off);
    controller.keyEvent(kKey5, 1);
    EXPECT_EQ(m_presses, (std::vector<int>{11})) << "presses follow the active stack";

    controller.unselectItem(off);
    EXPECT_FALSE(off->isActive());
    EXPECT_TRUE(normalView->shown);
    EXPECT_FALSE(offView->shown);
}

TEST_F(ControllerTest, DisablingAGroupKeepsOnlyItsSelectedLayer) {
    auto group = makeQX<QXLayersGroup>(u"g");
    m_user->children().push_back(group);
    auto a = layer(group, u"a"), b = layer(group, u"b");
    a->getButton(kEscape)->keystroke = u"x";
    b->getButton(kKey5)->keystroke = u"y";
    QXLayersController controller(m_tree, m_dispatch);
    controller.reevaluate();
    controller.selectItem(b);
    controller.disableItem(group);
    EXPECT_FALSE(a->isActive());
    EXPECT_TRUE(b->isActive());
    controller.reevaluate();
    EXPECT_FALSE(a->isActive());
    EXPECT_TRUE(b->isActive());
    controller.enableItem(group);
    EXPECT_TRUE(a->isActive());
}

TEST_F(ControllerTest, ConnectingTheKeyboardAndHoldingShiftSwitchLayers) {
    auto user = layer(m_user, u"user");
    user->getButton(kEscape)->keystroke = u"u";
    auto shift = layer(m_system, u"shift");
    shift->addCondition(makeQX<QXModifierCondition>(QXModifier::kShift));
    shift->getButton(kKey5)->keystroke = u"%";
    m_state.connected = false;
    QXLayersController controller(m_tree, m_dispatch);
    controller.reevaluate();
    EXPECT_FALSE(user->isActive()) << "no keyboard, no user layers";
    m_state.connected = true;
    m_dispatch.Send(QXM_DEVICE_STATE, 0);
    EXPECT_TRUE(user->isActive());

    EXPECT_FALSE(shift->isActive());
    m_state.modifiers = QXModifier::kShift;
    m_dispatch.Send(QXM_HOOK_MODIFIERS, QXModifier::kShift, 0x10);
    EXPECT_TRUE(shift->isActive());
    m_state.modifiers = 0;
    m_dispatch.Send(QXM_HOOK_MODIFIERS, 0, 0x10);
    EXPECT_FALSE(shift->isActive());
}

// The files dumped to a folder show the active layers without the three lock layers, and
// the Caps Lock layer after all of them, whichever locks are on.
TEST_F(ControllerTest, TheDumpLeavesOutTheLockLayersAndAddsCapsLockLast) {
    auto ids = [](const QXCompositeLayer& stack) {
        std::vector<std::u16string> out;
        for (const QXLayer::Ptr& l : stack.layers())
            out.push_back(l->identifier());
        return out;
    };
    layer(m_user, u"mine")->getButton(kKey5)->keystroke = u"m";
    auto control = makeQX<QXLayersGroup>(u"control_buttons");
    m_system->children().push_back(control);
    layer(m_system, u"background")->getButton(kKey6)->keystroke = u"b";
    layer(control, u"control_buttons_caps_lock")->addCondition(makeQX<QXLockCondition>(0x10));
    layer(control, u"control_buttons_num_lock"); // no condition left: always active
    layer(control, u"control_buttons_scroll_lock")->addCondition(makeQX<QXLockCondition>(0x80));
    const std::vector<std::u16string> dumped = {u"mine", u"background", u"control_buttons_caps_lock"};

    QXLayersController controller(m_tree, m_dispatch);
    controller.reevaluate();
    EXPECT_EQ(ids(controller.activeStack()),
              (std::vector<std::u16string>{u"mine", u"control_buttons_num_lock", u"background"}));
    EXPECT_EQ(ids(controller.dumpStack()), dumped) << "Caps Lock off: added all the same";

    m_state.modifiers = 0x10 | 0x80;
    controller.reevaluate();
    EXPECT_EQ(controller.activeStack().layers().size(), 5u);
    EXPECT_EQ(ids(controller.dumpStack()), dumped) << "Caps Lock on: once, and last";
}

TEST_F(ControllerTest, OnlyKeysWhoseWinnerChangedAreAnnounced) {
    auto base = layer(m_system, u"base");
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        base->getButton(i)->keystroke = u"b";
    auto shift = layer(m_user, u"shift");
    shift->addCondition(makeQX<QXModifierCondition>(QXModifier::kShift));
    shift->getButton(kKey5)->keystroke = u"%";
    QXLayersController controller(m_tree, m_dispatch);
    controller.reevaluate();
    EXPECT_EQ(m_keyChanges.size(), 113u);
    m_keyChanges.clear();
    m_state.modifiers = QXModifier::kShift;
    m_dispatch.Send(QXM_HOOK_MODIFIERS, 4, 0x10);
    EXPECT_EQ(m_keyChanges, (std::map<unsigned, int>{{kKey5, 1}}));
    EXPECT_EQ(m_stateChanges, 2);
}

TEST_F(ControllerTest, APaintedLayerPictureComesBackOnceAndAssignsThePaintedKey) {
    auto target = layer(m_user, u"{PAINTED}");
    target->setDisplayName(u"My/Layer");
    QXLayersController controller(m_tree, m_dispatch);
    std::vector<fs::path> opened;
    controller.setOpener([&](const fs::path& file) {
        opened.push_back(file);
        return true;
    });
    const fs::path file = controller.editLayerAsPicture(target);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(file, m_runtime / "TesseraQuadrix" / "Editor Layots" / "My_Layer - {PAINTED}.bmp");
    EXPECT_EQ(opened, (std::vector<fs::path>{file}));

    controller.shellChange();
    EXPECT_TRUE(m_layersChanged.empty()) << "an untouched bitmap is not taken back";

    QXImage picture;
    ASSERT_TRUE(picture.loadFile(file));
    auto square = QXLayoutPicture::keySquare(kEscape);
    RGBQUAD white{255, 255, 255, 0};
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x)
            picture.setPixelColor(square.left + x, picture.getHeight() - 1 - (square.top + y), &white);
    ASSERT_TRUE(picture.saveFile(file));
    fs::last_write_time(file, fs::last_write_time(file) + std::chrono::seconds(5));

    controller.shellChange();
    controller.shellChange(); // the same write time again
    EXPECT_EQ(m_layersChanged, (std::vector<std::u16string>{u"{PAINTED}"}));
    ASSERT_TRUE(target->getButton(kEscape)->image);
    EXPECT_EQ(target->getButton(kEscape)->actionCode, QXKeyTable::key(kEscape).actionCode);
    EXPECT_FALSE(target->getButton(kKey5)->isAssigned());
}

} // namespace
