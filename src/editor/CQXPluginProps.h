#pragma once

#include "editor/QXKeyPropsContext.h"

#include <QWidget>

class QLabel;
class QStackedLayout;

// Hosts the property page of the shown key's plug-in: its view's page, else its action's.
// The page is made through the instance (the plug-in's CreateGUI, with this widget as
// parent) and let go (DestroyGUI) when another key or assignment is shown, on 2038 and
// 2044. A page handle that is not a widget of ours is not shown; a label stands in.
class CQXPluginProps : public QWidget {
    Q_OBJECT
public:
    CQXPluginProps(QXKeyPropsContext& context, QWidget* parent = nullptr);
    ~CQXPluginProps() override;

    // The instance whose page is open (a view or an action host object), or null.
    const QXKeyPluginInstance* hosted() const { return m_hosted.get(); }
    // The page widget when the plug-in gave one.
    QWidget* page() const { return m_page; }

    void reload();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void release();

    QXKeyPropsContext& m_context;
    QXPtr<QXKeyPluginInstance> m_hosted; // held so its page can be let go of
    QWidget* m_page = nullptr;
    QLabel* m_placeholder = nullptr;
    bool m_loaded = false; // reload() ran once
};
