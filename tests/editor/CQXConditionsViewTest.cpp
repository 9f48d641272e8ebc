#include "editor/CQXConditionsView.h"

#include "editor/CQXConditionComboBoxes.h"
#include "model/QXLayerTree.h"
#include "model/QXLayersController.h"
#include "model/QXXkbLayoutSource.h"
#include "platform/QXDispatch.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"
#include "pluginhost/QXConditionPluginInstance.h"
#include "pluginhost/QXPluginRegistry.h"
#include "support/QXTestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kGerman = 0x04070407, kUnitedStates = 0x04090409;

struct GermanDesk : QXSystemState {
    uint32_t currentLayout() const override { return kGerman; }
};

class ConditionsViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!qApp) {
            static int argc = 1;
            static char name[] = "editor_tests";
            static char* argv[] = {name, nullptr};
            qputenv("QT_QPA_PLATFORM", "offscreen"); // never the developer's desktop
            new QApplication(argc, argv);            // kept to the end
        }
    }

    ConditionsViewTest() {
        QXSystemState::setCurrent(&m_state);
        QXPropertyNode root;
        QXPluginRegistry::scan(QX_TEST_PLUGINS_DIR, root);
        m_registry.build(root);
        m_user = makeQX<QXLayersGroup>(u"user_layers");
        m_user->setFlag(QXLayersItem::kFixed | QXLayersItem::kUserLayers);
        m_tree.topLevel() = {m_user};
        m_view =
            std::make_unique<CQXConditionsView>(m_controller, m_choices, m_registry, m_dispatch);
        m_view->resize(460, 160);
    }
    ~ConditionsViewTest() override {
        m_view.reset();
        QXSystemState::setCurrent(nullptr);
    }

    QXLayer::Ptr layer(std::initializer_list<QXPtr<QXCondition>> conditions) {
        QXLayer::Ptr l = createLayer(m_user->children());
        for (const QXPtr<QXCondition>& c : conditions)
            l->addCondition(c);
        return l;
    }
    // As the layer tree does: the controller's selection, then 2034.
    void select(std::initializer_list<QXLayersItem::Ptr> items) {
        for (QXLayersItem::Ptr selected : QXItemList(m_controller.selectedItems()))
            m_controller.unselectItem(selected);
        for (const QXLayersItem::Ptr& item : items)
            m_controller.selectItem(item);
        m_dispatch.Send(QXM_LAYER_SELECTED);
    }
    template <class W> W* control(int id) {
        auto* w = m_view->findChild<W*>(QString::number(id));
        EXPECT_TRUE(w) << "no control " << id;
        return w;
    }

    qxtest::TempDir m_runtime;
    qxtest::ScopedEnv m_env{"XDG_RUNTIME_DIR", m_runtime.path().string()};
    GermanDesk m_state;
    QXDispatch m_dispatch;
    QXLayerTree m_tree;
    QXLayersController m_controller{m_tree, m_dispatch};
    QXXkbLayoutSource m_layouts{std::vector<QXXkbLayoutSource::Layout>{{"us", ""}, {"de", ""}}};
    QXSystemConditionChoices m_choices{m_layouts};
    QXPluginRegistry m_registry;
    QXPtr<QXLayersGroup> m_user;
    std::unique_ptr<CQXConditionsView> m_view;
};

TEST_F(ConditionsViewTest, CaptionAndEnablingFollowTheSelection) {
    auto masked = layer({makeQX<QXModifierCondition>(0x05u)});
    auto plain = layer({});

    select({masked, plain});
    EXPECT_EQ(m_view->title(), "(multiple selection)");
    EXPECT_TRUE(m_view->rowControls().empty());
    EXPECT_FALSE(control<QPushButton>(3000)->isEnabled());

    select({plain});
    EXPECT_EQ(m_view->title(), "Conditions: use inherited");
    EXPECT_TRUE(control<QPushButton>(3000)->isEnabled());

    // The fixed group: its lock condition shows, its keyboard condition does not, and
    // nothing can be changed.
    m_user->addCondition(makeQX<QXSysCondition>());
    m_user->addCondition(makeQX<QXLockCondition>(QXModifier::kCapsLock));
    select({m_user});
    EXPECT_EQ(m_view->title(), "Conditions");
    ASSERT_EQ(m_view->rowControls().size(), 5u);
    for (const CQXConditionsView::RowControl& c : m_view->rowControls())
        EXPECT_FALSE(c.widget->isEnabled()) << c.widget->objectName().toStdString();
    EXPECT_TRUE(control<QCheckBox>(3001)->isChecked()) << "Caps";
    EXPECT_FALSE(control<QPushButton>(3000)->isEnabled());
    QTest::mouseClick(control<QPushButton>(3005), Qt::LeftButton);
    EXPECT_EQ(m_user->conditions().size(), 2u) << "a fixed item keeps its conditions";
}

TEST_F(ConditionsViewTest, ModifierRowEditsReachTheSavedConditionsAndTheLastRemovalSaysSo) {
    auto l = layer({makeQX<QXModifierCondition>(0x05u)});
    select({l});

    const char* captions[] = {"Shift", "Alt", "Ctrl", "Win"};
    const bool checked[] = {true, true, false, false};
    for (int i = 0; i < 4; ++i) {
        auto* box = control<QCheckBox>(3001 + i);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->text(), captions[i]);
        EXPECT_EQ(box->isChecked(), checked[i]) << captions[i];
        EXPECT_EQ(box->y(), 23) << "row 0 starts at 23";
    }
    auto* remove = control<QPushButton>(3005);
    ASSERT_TRUE(remove);
    EXPECT_EQ(remove->text(), QString(QChar(0x2212)));
    EXPECT_EQ(remove->width(), 22);
    EXPECT_GE(remove->geometry().right(), m_view->width() - 5) << "at the right edge";

    QTest::mouseClick(control<QCheckBox>(3003), Qt::LeftButton); // Ctrl on
    QTest::mouseClick(control<QCheckBox>(3001), Qt::LeftButton); // Shift off
    QXPropertyNode saved(u"layer");
    writeConditions(l->conditions(), saved);
    QXConditionList reread = readConditions(saved);
    ASSERT_EQ(reread.size(), 1u);
    EXPECT_EQ(reread[0].staticCast<QXModifierCondition>()->mask(),
              QXModifier::kAlt | QXModifier::kCtrl);

    QTest::mouseClick(remove, Qt::LeftButton);
    EXPECT_TRUE(l->conditions().empty());
    EXPECT_TRUE(m_view->rowControls().empty());
    EXPECT_EQ(m_view->title(), "(no conditons - always active)");
}

TEST_F(ConditionsViewTest, ApplicationListAddsPickedProgramsAndKeepsItsChoiceOnARefusal) {
    auto app = makeQX<QXApplicationCondition>(u"someapp", true);
    select({layer({app})});
    auto* list = control<CQXApplicationsComboBox>(3001);
    auto* predicate = control<QComboBox>(3002);
    ASSERT_TRUE(list && predicate);
    EXPECT_EQ(list->selectedApplication(), u"someapp") << "an unknown application is listed";
    EXPECT_EQ(list->itemText(list->addItemIndex()), "Add application...");
    EXPECT_EQ(predicate->currentText(), "is active");

    QTest::keyClick(predicate, Qt::Key_Down);
    EXPECT_FALSE(app->foreground()) << "is running";

    // A file that is no program: refused with its reason, and nothing changes.
    const fs::path text = m_runtime / "notes.txt";
    std::ofstream(text) << "not a program";
    std::vector<std::string> warnings;
    int observer = QXLog::addObserver(
        [&](QXLogLevel, const char*, std::string_view m) { warnings.emplace_back(m); });
    list->setPicker([&](QWidget*) { return QString::fromStdString(text.string()); });
    QTest::keyClick(list, Qt::Key_End);
    QXLog::removeObserver(observer);
    EXPECT_EQ(app->application(), u"someapp");
    EXPECT_EQ(list->selectedApplication(), u"someapp");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("not an executable"), std::string::npos) << warnings[0];

    // A program behind a link is named as its process is.
    list->setPicker([](QWidget*) { return QStringLiteral("/bin/sh"); });
    QTest::keyClick(list, Qt::Key_End);
    const std::u16string sh = QString::fromStdString(fs::canonical("/bin/sh").filename().string())
                                  .toLower()
                                  .toStdU16String();
    EXPECT_EQ(app->application(), sh);
    EXPECT_EQ(list->selectedApplication(), sh);
}

TEST_F(ConditionsViewTest, AddMenuMakesEveryKindWithItsStartingValues) {
    auto l = layer({});
    select({l});
    QMenu* menu = m_view->addMenu();
    QStringList entries;
    for (QAction* a : menu->actions())
        entries << (a->isSeparator() ? QStringLiteral("-") : a->objectName() + "=" + a->text());
    // The well-behaved test plug-in comes first in registry order; the broken ones follow.
    EXPECT_TRUE(entries.join(' ').startsWith(
        "3102=Application 3103=Language 3104=Modifier 3105=Lock mode - 3107=Switch "))
        << entries.join(' ').toStdString();

    for (const char* id : {"3102", "3103", "3104", "3105", "3107"})
        menu->findChild<QAction*>(id)->trigger();
    EXPECT_EQ(m_view->title(), "Conditions");
    ASSERT_EQ(l->conditions().size(), 5u);
    std::u16string kinds;
    for (const auto& c : l->conditions())
        kinds += c->type() + u" ";
    EXPECT_EQ(kinds, u"application language modifier lock plugin ");
    EXPECT_EQ(l->conditions()[1].staticCast<QXSysLayoutCondition>()->layout(), kGerman);
    EXPECT_EQ(l->conditions()[0].staticCast<QXApplicationCondition>()->application(),
              m_choices.defaultBrowser());
    EXPECT_EQ(l->conditions()[2].staticCast<QXModifierCondition>()->mask(), 0u);

    // Rows: application 3001-3003, language 3004-3005, modifier 3006-3010, lock
    // 3011-3015, plug-in 3016.
    EXPECT_EQ(m_view->rowControls().size(), 16u);
    auto* languages = control<CQXLanguagesComboBox>(3004);
    ASSERT_TRUE(languages);
    EXPECT_EQ(languages->selectedLayout(), kGerman);
    QTest::keyClick(languages, Qt::Key_Up);
    EXPECT_EQ(l->conditions()[1].staticCast<QXSysLayoutCondition>()->layout(), kUnitedStates);
    EXPECT_EQ(control<QPushButton>(3016)->y(), 4 * 23 + 23);
    auto* plugin = m_view->findChild<QLabel*>("pluginConditionName");
    ASSERT_TRUE(plugin);
    EXPECT_EQ(plugin->text(), "Switch");

    // Conditions of plug-ins that cannot be loaded still get a row naming them.
    const int offered = static_cast<int>(menu->actions().size()) - 5;
    ASSERT_GT(offered, 1);
    for (int id = 3108; id < 3107 + offered; ++id)
        menu->findChild<QAction*>(QString::number(id))->trigger();
    EXPECT_EQ(static_cast<int>(l->conditions().size()), 4 + offered);
    EXPECT_EQ(m_view->findChildren<QLabel*>("pluginConditionName").size(), offered);

    // One row of every kind draws.
    auto onOff = makeQX<QXConditionPluginInstance>(m_registry);
    onOff->setIds(u"test.good", u"switch.condition");
    select({layer({makeQX<QXApplicationCondition>(u"firefox", true),
                   makeQX<QXSysLayoutCondition>(kGerman),
                   makeQX<QXModifierCondition>(QXModifier::kShift),
                   makeQX<QXLockCondition>(QXModifier::kCapsLock), onOff})});
    m_view->resize(460, 6 * 23 + 8);
    QImage shot = m_view->grab().toImage();
    ASSERT_FALSE(shot.isNull());

    // Removing the plug-in's row lets go of its page and its instance.
    QTest::mouseClick(control<QPushButton>(3016), Qt::LeftButton);
    EXPECT_EQ(m_view->item()->conditions().size(), 4u);
    EXPECT_FALSE(onOff->propertyPage());
    EXPECT_FALSE(onOff->holder());
}

} // namespace
