#include "editor/CQXPluginProps.h"

#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "pluginhost/QXActionPluginInstance.h"
#include "pluginhost/QXViewPluginInstance.h"

#include <QLabel>
#include <QResizeEvent>

namespace {

// The page calls of the two host classes, on whichever the pointer is.
QXWindowHandle showPage(QXKeyPluginInstance* instance, QWidget* parent) {
    if (auto* view = dynamic_cast<QXViewPluginInstance*>(instance))
        return view->showPropertyPage(parent);
    if (auto* action = dynamic_cast<QXActionPluginInstance*>(instance))
        return action->showPropertyPage(parent);
    return nullptr;
}

void hidePage(QXKeyPluginInstance* instance) {
    if (auto* view = dynamic_cast<QXViewPluginInstance*>(instance))
        view->hidePropertyPage();
    else if (auto* action = dynamic_cast<QXActionPluginInstance*>(instance))
        action->hidePropertyPage();
}

} // namespace

CQXPluginProps::CQXPluginProps(QXKeyPropsContext& context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("CQXPluginProps"));
    setAccessibleName(tr("Plug-in settings"));
    m_placeholder = new QLabel(this);
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_placeholder->setWordWrap(true);
    m_placeholder->setEnabled(false); // grey
    m_context.dispatch.RegisterHandler(QXM_KEY_SELECTED, this, &CQXPluginProps::reload);
    m_context.dispatch.RegisterHandler(QXM_ASSIGNMENT_CHANGED, this, &CQXPluginProps::reload);
    reload();
}

CQXPluginProps::~CQXPluginProps() {
    m_context.dispatch.UnregisterObject(this);
    release();
}

void CQXPluginProps::release() {
    if (m_hosted)
        hidePage(m_hosted.get()); // the plug-in lets go of its page first
    m_hosted = {};
    m_page = nullptr;
}

void CQXPluginProps::reload() {
    setEnabled(static_cast<bool>(m_context.editableLayer()));
    QXPtr<QXKeyPluginInstance> wanted;
    if (const QXButton* button = m_context.shownButton()) {
        if (button->view)
            wanted = button->view;
        else if (button->action)
            wanted = button->action;
    }
    // The same instance keeps its page; the plug-in is not asked for another.
    if (m_loaded && wanted.get() == m_hosted.get())
        return;
    m_loaded = true;
    release();
    m_hosted = wanted;
    QString note = tr("No plug-in settings");
    if (m_hosted) {
        const QXWindowHandle handle = showPage(m_hosted.get(), this);
        // The handle is only trusted as a widget when it is one of our own children.
        for (QObject* child : children())
            if (child == handle && child->isWidgetType())
                m_page = static_cast<QWidget*>(child);
        if (m_page) {
            m_page->setGeometry(rect());
            m_page->show();
        } else {
            note = tr("This plug-in has no settings here");
        }
    }
    m_placeholder->setText(note);
    m_placeholder->setVisible(!m_page);
    m_placeholder->setGeometry(rect());
}

void CQXPluginProps::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_page)
        m_page->setGeometry(rect());
    m_placeholder->setGeometry(rect());
}
