#include "editor/CQXLayersView.h"
#include "editor/QXKeyClipboard.h"

#include "model/QXKeyTable.h"
#include "platform/QXDispatch.h"
#include "platform/QXLog.h"
#include "platform/QXMessages.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

bool CQXLayersView::copyKeys() {
    QXLayer::Ptr layer = currentLayer();
    if (!layer)
        return false;
    std::vector<size_t> keys;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i)
        if (m_selected[i])
            keys.push_back(i);
    QByteArray bytes = QXKeyClipboard::encode(*layer, keys);
    if (bytes.isEmpty())
        return false;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(QXKeyClipboard::kMimeType), bytes);
    QGuiApplication::clipboard()->setMimeData(mime);
    return true;
}

bool CQXLayersView::pasteKeys() {
    QXLayer::Ptr layer = currentLayer();
    if (!canEditCurrent()) {
        QXLog::info(QXLog::kEditor, "keys are not pasted: the current layer cannot be edited");
        return false;
    }
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    const QString type = QString::fromLatin1(QXKeyClipboard::kMimeType);
    if (!mime || !mime->hasFormat(type))
        return false; // something else was copied: nothing of ours to paste
    const std::vector<QXKeyClipboard::Key> keys = QXKeyClipboard::decode(mime->data(type));
    if (keys.empty())
        return false;
    std::bitset<113> pasted;
    for (const QXKeyClipboard::Key& key : keys) {
        key.assignment.putInto(*layer, key.keyIndex);
        pasted.set(key.keyIndex);
    }
    m_anchor = m_focus = keys.front().keyIndex;
    changed();
    // The panels show the pasted keys even when they were selected already.
    m_selected = pasted;
    update();
    m_dispatch.Send(QXM_KEY_SELECTED);
    m_dispatch.Send(QXM_ASSIGNMENT_CHANGED);
    return true;
}
