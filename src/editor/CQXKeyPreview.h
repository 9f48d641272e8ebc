#pragma once

#include "editor/QXKeyPropsContext.h"
#include "platform/QXWin32.h"

#include <QWidget>

// The shown key's own image in the current layer, drawn 48 x 48 (scaled on high-density
// screens): its picture, else what its view last published, else a hatched square.
// Follows 2037 for the shown key's view, and reload() after edits and selections.
class CQXKeyPreview : public QWidget {
    Q_OBJECT
public:
    CQXKeyPreview(QXKeyPropsContext& context, QWidget* parent = nullptr);
    ~CQXKeyPreview() override;

    const QImage& image() const { return m_image; }
    void reload();

    QSize sizeHint() const override { return QSize(52, 52); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onViewImageChanged(qxwin::WPARAM view, qxwin::LPARAM keyIndex);

    QXKeyPropsContext& m_context;
    QImage m_image;
};
