#include "CTextModeCondition.h"

#include "CTextModePropertiesFrame.h"

#include <QWidget>
#include <string>
#include <vector>

CTextModeCondtitionsStore& CTextModeCondtitionsStore::Instance() {
    // Never destroyed: the working thread may still hold it while the process ends.
    static auto* store = new CTextModeCondtitionsStore();
    return *store;
}

void CTextModeCondtitionsStore::Add(CTextModeCondition* condition) {
    bool startListening = false;
    {
        std::lock_guard lock(m_mutex);
        condition->Report(m_detector.lastState);
        m_conditions.insert(condition);
        startListening = !m_listening;
        m_listening = true;
    }
    if (startListening) {
        m_watcher.Start();
        WorkingThreadAddListener(this);
    }
}

void CTextModeCondtitionsStore::Remove(CTextModeCondition* condition) {
    bool stopListening = false;
    {
        std::lock_guard reporting(m_reportMutex);
        std::lock_guard lock(m_mutex);
        m_conditions.erase(condition);
        stopListening = m_conditions.empty() && m_listening;
        if (stopListening)
            m_listening = false;
    }
    if (stopListening) {
        WorkingThreadRemoveListener(this);
        m_watcher.Stop();
        std::lock_guard lock(m_mutex);
        // The next condition starts from "no text input", as the watcher does.
        m_detector = CTextModeDetector{};
    }
}

bool CTextModeCondtitionsStore::LastState() {
    std::lock_guard lock(m_mutex);
    return m_detector.lastState;
}

void CTextModeCondtitionsStore::tick() {
    const bool state = m_watcher.TextInput();
    std::lock_guard reporting(m_reportMutex);
    std::vector<CTextModeCondition*> conditions;
    {
        std::lock_guard lock(m_mutex);
        if (m_detector.initialised && m_detector.lastState == state)
            return;
        m_detector.initialised = true;
        m_detector.lastState = state;
        conditions.assign(m_conditions.begin(), m_conditions.end());
    }
    // A condition made now has read the new state already; one being removed waits.
    for (CTextModeCondition* condition : conditions)
        condition->Report(state);
}

CTextModeCondition::CTextModeCondition(IQXConditionPluginContext* context)
    : CQXPluginInstance(context) {
    char16_t value[kQXTextCapacity] = {};
    if (context->GetProperty(u"val", value)) {
        value[kQXTextCapacity - 1] = 0;
        m_textMode = std::u16string_view(value) == u"true";
    }
    CTextModeCondtitionsStore::Instance().Add(this);
}

CTextModeCondition::~CTextModeCondition() {
    delete m_page.data();
    CTextModeCondtitionsStore::Instance().Remove(this);
}

void CTextModeCondition::Report(bool textInput) {
    context()->SetActive(m_textMode ? textInput : !textInput);
}

void CTextModeCondition::SetTextMode(bool textMode) {
    m_textMode = textMode;
    context()->SetProperty(u"val", textMode ? u"true" : u"false");
    Report(CTextModeCondtitionsStore::Instance().LastState());
}

QXWindowHandle CTextModeCondition::CreateGUI(QXWindowHandle parent) {
    if (m_page)
        return m_page.data();
    m_page = new CTextModePropertiesFrame(*this, static_cast<QWidget*>(parent));
    m_page->show();
    return m_page.data();
}

QXBool CTextModeCondition::DestroyGUI() {
    if (!m_page)
        return 0;
    delete m_page.data();
    return 1;
}
