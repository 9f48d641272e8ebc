#include "editor/QXGlobalImageList.h"

#include "platform/QXResource.h"

#include <QPainter>
#include <span>

std::span<const QXResourceData> qxEditorResources();

namespace {

constexpr size_t kGrowBy = 50;

QImage transparentIcon() {
    QImage image(QXGlobalImageList::kIconSize, QXGlobalImageList::kIconSize,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

} // namespace

QXGlobalImageList& QXGlobalImageList::instance() {
    static QXGlobalImageList list;
    return list;
}

QXGlobalImageList::QXGlobalImageList() {
    QImage program;
    if (const QXResourceData* r = findResource(qxEditorResources(), "qxcfg-16"))
        program.loadFromData(r->data, static_cast<int>(r->size), "PNG");
    add(program);
}

int QXGlobalImageList::add(const QImage& icon) {
    if (m_icons.size() == m_icons.capacity())
        m_icons.reserve(m_icons.capacity() + kGrowBy);
    QImage sized = icon.isNull() ? transparentIcon()
                                 : icon.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (sized.width() != kIconSize || sized.height() != kIconSize)
        sized = sized.scaled(kIconSize, kIconSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (sized.width() != kIconSize || sized.height() != kIconSize) {
        // Centre a picture that was not square on a transparent square.
        QImage square = transparentIcon();
        QPainter painter(&square);
        painter.drawImage((kIconSize - sized.width()) / 2, (kIconSize - sized.height()) / 2, sized);
        painter.end();
        sized = square;
    }
    m_icons.push_back(sized);
    return static_cast<int>(m_icons.size()) - 1;
}

QImage QXGlobalImageList::icon(int index) const {
    if (index < 0 || index >= count())
        return transparentIcon();
    return m_icons[static_cast<size_t>(index)];
}
