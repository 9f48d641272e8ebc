// The layers controller on a large tree: 200 user layers with every key assigned, and
// 20 language layers in the background. How long evaluating and rebuilding take, and
// how many keys are announced when a change affects one key.
#include "model/QXKeyTable.h"
#include "model/QXLayersController.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <benchmark/benchmark.h>

namespace {

struct State : QXSystemState {
    uint32_t modifiers = 0;
    uint32_t modifierState() const override { return modifiers; }
    bool isKeyboardConnected() const override { return true; }
};

struct Counter {
    long keys = 0;
    void keyChanged(unsigned) { ++keys; }
};

struct Fixture {
    Fixture() {
        QXSystemState::setCurrent(&state);
        auto user = makeQX<QXLayersGroup>(u"user_layers");
        auto system = makeQX<QXLayersGroup>(u"system_layers");
        tree.topLevel() = {user, system};
        // One layer above all others that only Shift brings in, for one key.
        auto shift = makeQX<QXLayer>(u"shift");
        shift->addCondition(makeQX<QXModifierCondition>(QXModifier::kShift));
        shift->getButton(23)->keystroke = u"%";
        user->children().push_back(shift);
        for (int l = 0; l < 200; ++l) {
            auto layer = makeQX<QXLayer>(u"user" + std::u16string(1, char16_t(u'A' + l % 26)) +
                                         std::u16string(1, char16_t(u'0' + l / 26)));
            // Each user layer only while a different application is in front: inactive.
            layer->addCondition(makeQX<QXApplicationCondition>(u"app", true));
            for (size_t k = 0; k < QXKeyTable::keyCount(); ++k)
                layer->getButton(k)->keystroke = u"x";
            user->children().push_back(layer);
        }
        for (int l = 0; l < 20; ++l) {
            auto layer = makeQX<QXLayer>(u"lang" + std::u16string(1, char16_t(u'A' + l)));
            for (size_t k = 0; k < QXKeyTable::keyCount(); ++k)
                layer->getButton(k)->keystroke = u"y";
            system->children().push_back(layer);
        }
        dispatch.RegisterHandler(QXM_KEY_CHANGED, &counter, &Counter::keyChanged);
        controller = std::make_unique<QXLayersController>(tree, dispatch);
        controller->reevaluate();
    }
    ~Fixture() {
        controller.reset();
        QXSystemState::setCurrent(nullptr);
    }

    State state;
    QXDispatch dispatch;
    QXLayerTree tree;
    Counter counter;
    std::unique_ptr<QXLayersController> controller;
};

void BM_ReevaluateWithoutChange(benchmark::State& s) {
    Fixture f;
    for (auto _ : s)
        f.controller->reevaluate();
}
BENCHMARK(BM_ReevaluateWithoutChange)->Unit(benchmark::kMicrosecond);

void BM_Rebuild(benchmark::State& s) {
    Fixture f;
    for (auto _ : s)
        f.controller->rebuild();
}
BENCHMARK(BM_Rebuild)->Unit(benchmark::kMicrosecond);

// Shift pressed and released: each evaluation changes the winner of one key.
void BM_ShiftLayerOnAndOff(benchmark::State& s) {
    Fixture f;
    f.counter.keys = 0;
    long changes = 0;
    for (auto _ : s) {
        f.state.modifiers = QXModifier::kShift;
        f.controller->reevaluate();
        f.state.modifiers = 0;
        f.controller->reevaluate();
        changes += 2;
    }
    s.counters["key_messages_per_change"] =
        static_cast<double>(f.counter.keys) / static_cast<double>(changes);
}
BENCHMARK(BM_ShiftLayerOnAndOff)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
