#include "editor/CQXKeyProps.h"

#include "editor/CQXActionProps.h"
#include "editor/CQXDisplayProps.h"
#include "editor/CQXKeyPreview.h"
#include "editor/CQXPluginProps.h"
#include "editor/CQXViewProps.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QTabWidget>
#include <QHBoxLayout>
#include <QVBoxLayout>

CQXKeyProps::CQXKeyProps(QXLayersController& controller, CQXLayersView& keyboardView,
                         QXPluginRegistry& registry, QXDispatch& dispatch, QWidget* parent)
    : QGroupBox(tr("Key properties"), parent), m_context{controller, keyboardView, registry,
                                                         dispatch} {
    setObjectName(QStringLiteral("CQXKeyProps"));
    setAccessibleName(tr("Key properties"));

    m_preview = new CQXKeyPreview(m_context, this);
    m_display = new CQXDisplayProps(m_context, this);
    m_action = new CQXActionProps(m_context, m_display->chain(), this);
    m_display->setPartner(m_action);
    m_action->setPartner(m_display);
    m_view = new CQXViewProps(m_context, this);
    m_plugin = new CQXPluginProps(m_context, this);

    // Three columns: what the key shows, what it does, and one of its text appearance or
    // its plug-in's own settings (a tab each: both need more room than a third of the
    // frame leaves them side by side).
    // The frame around them is this one: the panels draw none of their own.
    m_display->setFlat(true);
    m_action->setFlat(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 6, 6, 6);
    row->setSpacing(8);
    auto* left = new QHBoxLayout;
    left->setSpacing(4);
    left->addWidget(m_preview, 0, Qt::AlignLeft | Qt::AlignTop);
    left->addWidget(m_display, 1);
    row->addLayout(left, 4);
    row->addWidget(m_action, 4);
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("keyPropsTabs"));
    m_tabs->setAccessibleName(tr("Text appearance and plug-in settings"));
    m_tabs->setDocumentMode(true);
    m_view->setTitle(QString()); // the tab names it
    m_view->setFlat(true);
    m_tabs->addTab(m_view, tr("Text"));
    m_tabs->addTab(m_plugin, tr("Plug-in settings"));
    row->addWidget(m_tabs, 3);
    // An edit in one panel shows in the others: the plug-in's name on the buttons, its
    // page, the preview.
    for (auto* panel : {static_cast<CQXCommonPluginProps*>(m_display),
                        static_cast<CQXCommonPluginProps*>(m_action)})
        connect(panel, &CQXCommonPluginProps::edited, this, &CQXKeyProps::reload);
    m_context.dispatch.RegisterHandler(QXM_LAYER_SELECTED, this, &CQXKeyProps::reload);
    reload();
}

CQXKeyProps::~CQXKeyProps() {
    m_context.dispatch.UnregisterObject(this);
    // The panels use the context as they go: before it does.
    delete m_plugin;
    delete m_preview;
    delete m_view;
    delete m_action;
    delete m_display;
}

void CQXKeyProps::reload() {
    m_display->reload();
    m_action->reload();
    m_view->reload();
    const QXKeyPluginInstance* hosted = m_plugin->hosted();
    m_plugin->reload();
    m_preview->reload();
    // A key whose plug-in has settings of its own opens on them; the text stays otherwise.
    if (m_plugin->page() && m_plugin->hosted() != hosted)
        m_tabs->setCurrentWidget(m_plugin);
    else if (!m_plugin->page())
        m_tabs->setCurrentWidget(m_view);
}
