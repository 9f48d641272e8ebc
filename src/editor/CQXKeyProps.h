#pragma once

#include "editor/QXKeyPropsContext.h"

#include <QGroupBox>

class QTabWidget;

class CQXActionProps;
class CQXDisplayProps;
class CQXKeyPreview;
class CQXPluginProps;
class CQXViewProps;

// The framed "Key properties" area of the main window: edits the own assignment, in the
// keyboard view's current layer, of the keys selected there. It holds, left to right,
// the key preview over the display panel, the action panel, the text appearance and the
// plug-in's own page. Nothing can be changed while the current layer is fixed or no
// key is selected: the panels stay visible, greyed. GUI thread only.
class CQXKeyProps : public QGroupBox {
    Q_OBJECT
public:
    CQXKeyProps(QXLayersController& controller, CQXLayersView& keyboardView,
                QXPluginRegistry& registry, QXDispatch& dispatch, QWidget* parent = nullptr);
    ~CQXKeyProps() override;

    CQXDisplayProps* displayProps() const { return m_display; }
    CQXActionProps* actionProps() const { return m_action; }
    CQXViewProps* viewProps() const { return m_view; }
    CQXPluginProps* pluginProps() const { return m_plugin; }
    CQXKeyPreview* preview() const { return m_preview; }

    // Every panel reads the selection again (also on 2034: another layer is edited).
    void reload();

private:
    QXKeyPropsContext m_context;
    CQXDisplayProps* m_display = nullptr;
    CQXActionProps* m_action = nullptr;
    CQXViewProps* m_view = nullptr;
    CQXPluginProps* m_plugin = nullptr;
    CQXKeyPreview* m_preview = nullptr;
    QTabWidget* m_tabs = nullptr;
};
