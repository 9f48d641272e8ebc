#include "editor/CQXKeyPreview.h"

#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"

#include <QPainter>
#include <array>

CQXKeyPreview::CQXKeyPreview(QXKeyPropsContext& context, QWidget* parent)
    : QWidget(parent), m_context(context) {
    setObjectName(QStringLiteral("CQXKeyPreview"));
    setAccessibleName(tr("Key image"));
    setFixedSize(sizeHint());
    m_context.dispatch.RegisterHandler(QXM_KEY_SELECTED, this, &CQXKeyPreview::reload);
    m_context.dispatch.RegisterHandler(QXM_VIEW_IMAGE_CHANGED, this,
                                       &CQXKeyPreview::onViewImageChanged);
    reload();
}

CQXKeyPreview::~CQXKeyPreview() {
    m_context.dispatch.UnregisterObject(this);
}

void CQXKeyPreview::onViewImageChanged(qxwin::WPARAM, qxwin::LPARAM keyIndex) {
    if (static_cast<size_t>(keyIndex) == m_context.shownKey())
        reload();
}

void CQXKeyPreview::reload() {
    QImage image;
    if (const QXButton* button = m_context.shownButton()) {
        if (button->image && !button->view) {
            // A picture not on the keyboard now is read for the preview and not kept.
            if (button->image->isLoaded()) {
                image = qxToQImage(*button->image);
            } else {
                QXImage decoded;
                if (decoded.loadFile(button->image->sourcePath())) {
                    decoded.ensureKeySize();
                    image = qxToQImage(decoded);
                }
            }
        } else if (button->view) {
            std::array<unsigned char, QXKeyViewInstance::kImageBytes> bits{};
            if (button->view->copyImage(bits)) {
                image = QImage(48, 48, QImage::Format_RGB32);
                for (int y = 0; y < 48; ++y) {
                    const unsigned char* line = bits.data() + (47 - y) * 144;
                    auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
                    for (int x = 0; x < 48; ++x)
                        out[x] = qRgb(line[3 * x + 2], line[3 * x + 1], line[3 * x]);
                }
            }
        }
    }
    m_image = image;
    update();
}

void CQXKeyPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect square(2, 2, 48, 48);
    painter.fillRect(rect(), palette().window());
    if (m_image.isNull()) {
        painter.fillRect(square, QBrush(palette().mid().color(), Qt::BDiagPattern));
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(square, m_image);
    }
    painter.setPen(palette().dark().color());
    painter.drawRect(square.adjusted(-1, -1, 0, 0));
}
