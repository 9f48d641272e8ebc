#pragma once

#include "QXTextInputWatcher.h"
#include "kit/CQXPluginInstance.h"
#include "utility/utility.h"

#include <QPointer>
#include <atomic>
#include <mutex>
#include <set>

class CTextModePropertiesFrame;

// What the text-mode page asks of its condition.
class ITextModePluginViewProps {
public:
    virtual bool TextMode() const = 0;
    // Stores "val" and reports the state the new setting gives.
    virtual void SetTextMode(bool textMode) = 0;

protected:
    ~ITextModePluginViewProps() = default;
};

// Active while the foreground application takes text input ("val" "true"), or while it
// does not (anything else).
class CTextModeCondition : public CQXPluginInstance<IQXConditionPluginInstance>,
                           public ITextModePluginViewProps,
                           public IQXPluginGUIController {
public:
    explicit CTextModeCondition(IQXConditionPluginContext* context);
    ~CTextModeCondition() override;

    IQXPluginGUIController* GetGUIController() override { return this; }
    QXWindowHandle CreateGUI(QXWindowHandle parent) override;
    QXBool DestroyGUI() override;

    bool TextMode() const override { return m_textMode; }
    void SetTextMode(bool textMode) override;

    // Reports the state for the detected text-input state.
    void Report(bool textInput);

private:
    std::atomic<bool> m_textMode{false}; // read by the working thread's reports
    QPointer<CTextModePropertiesFrame> m_page;
};

// The last detected text-input state and whether there was a detection yet.
struct CTextModeDetector {
    bool initialised = false;
    bool lastState = false;
};

// The live text-mode conditions of the process and the detection they share. While any
// lives, the watcher follows the accessibility bus and the utility library's working
// thread ticks the store, which compares the watcher's flag with the last state and tells
// every condition about a change. With no condition nothing runs.
//
// Add and Remove on the GUI thread; the tick on the working thread. Remove waits for a
// report in progress, so a condition is never told anything after it was removed (the
// program releases instances without waiting for a report it is being sent); Add does
// not wait, as the program may be making an instance while a report is sent to it.
class CTextModeCondtitionsStore : public IWorkingThreadListener {
public:
    static CTextModeCondtitionsStore& Instance();

    // Adds the condition and reports the last state to it.
    void Add(CTextModeCondition* condition);
    void Remove(CTextModeCondition* condition);
    bool LastState();

    void tick() override;
    // The store lives as long as the library; the working thread never deletes it.
    void release() override {}

private:
    CTextModeCondtitionsStore() = default;
    ~CTextModeCondtitionsStore() = default; // never: the store lives as long as the process

    std::mutex m_reportMutex; // held by a tick while it reports, and by Remove
    std::mutex m_mutex;       // the set, the detector and the flag
    std::set<CTextModeCondition*> m_conditions;
    CTextModeDetector m_detector;
    bool m_listening = false;
    QXTextInputWatcher m_watcher;
};
