#pragma once

#include "controls/CTesDialog.h"

#include <QKeyEvent>
#include <QStringList>

class IVideoPluginViewProps;
class QCheckBox;
class QLineEdit;

// The page of a video key: the path (2004, its width follows the page; every change is
// kept, Enter restarts), "Restart" (2005), "Browse..." (2006, moves with the page's right
// edge) and "Loop playback" (2007).
class CVideoPropertiesFrame : public CTesDialog {
    Q_OBJECT
public:
    CVideoPropertiesFrame(IVideoPluginViewProps* props, QWidget* parent);

    // Shows the view's path and looping again (after a drop).
    void refresh();

    // The file chooser's filters: every video file pattern the shared MIME database knows,
    // then GIF animations, then any file.
    static QStringList fileFilters();

protected:
    int OnInitDialog() override;
    // Embedded in the editor's key properties: Escape and Enter belong to the editor.
    void keyPressEvent(QKeyEvent* event) override { event->ignore(); }

private:
    void browse();

    IVideoPluginViewProps* m_props;
    QLineEdit* m_path;
    QCheckBox* m_loop;
};
