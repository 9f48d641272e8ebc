#pragma once

#include "controls/CTesDialog.h"

#include <QKeyEvent>

// The base of the plug-in's pages: a dialog embedded in the editor's key properties, so
// Escape does not close it and Enter presses none of its buttons; both go to the editor.
class CFunctionsPage : public CTesDialog {
public:
    CFunctionsPage(unsigned int templateId, QWidget* parent) : CTesDialog(templateId, parent, 0) {
        setWindowFlags(Qt::Widget);
    }

protected:
    void keyPressEvent(QKeyEvent* event) override { event->ignore(); }
};
