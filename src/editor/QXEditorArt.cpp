#include "editor/QXEditorArt.h"

#include "platform/QXLog.h"
#include "platform/QXResource.h"

#include <QPixmap>
#include <string>

std::span<const QXResourceData> qxEditorToolBarResources();

QIcon toolBarIcon(const char* name) {
    const std::string base = std::string("toolbar-") + name;
    QIcon icon;
    for (const std::string& n : {base, base + "@2x"}) {
        const QXResourceData* r = findResource(qxEditorToolBarResources(), n);
        QPixmap pixmap;
        if (r && pixmap.loadFromData(r->data, static_cast<unsigned>(r->size), "PNG"))
            icon.addPixmap(pixmap);
    }
    if (icon.isNull())
        QXLog::warning(QXLog::kEditor, "no tool-bar picture named \"" + base + "\"");
    return icon;
}
