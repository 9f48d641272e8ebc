#include "editor/CQXKeyProps.h"

#include "editor/CQXActionProps.h"
#include "editor/CQXDisplayProps.h"
#include "editor/CQXKeyPreview.h"
#include "editor/CQXPluginProps.h"
#include "editor/CQXViewProps.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QFrame>
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

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(6, 6, 6, 6);
    row->setSpacing(8);
    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    left->addWidget(m_preview, 0, Qt::AlignLeft);
    left->addWidget(m_display, 1);
    row->addLayout(left, 3);
    row->addWidget(m_action, 3);
    row->addWidget(m_view, 3);
    auto* pageFrame = new QFrame(this);
    pageFrame->setFrameShape(QFrame::StyledPanel);
    auto* pageLayout = new QVBoxLayout(pageFrame);
    pageLayout->setContentsMargins(1, 1, 1, 1);
    pageLayout->addWidget(m_plugin);
    m_plugin->setMinimumWidth(120);
    row->addWidget(pageFrame, 2);

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
    m_plugin->reload();
    m_preview->reload();
}
