#pragma once

#include "model/QXLayersController.h"
#include "platform/QXWin32.h"

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <array>
#include <bitset>
#include <functional>

class QMenu;
class QAction;
class QTreeWidget;
class QTreeWidgetItem;
class QXDispatch;

// The editor's picture of the whole keyboard, each key showing what it shows now. Keys
// are selected here, and the own assignments of the current layer (the first layer the
// layer tree has selected in the controller) are defined, deleted, moved and copied.
//
// The view keeps no model data but the key selection: it reads the controller's stacks
// and edits the current layer, then tells the rest of the editor through the dispatch
// (2038 after every change of the selection, 2044 after every change of assignments).
// It listens to 2034 to 2037, 2039 and 2045 for as long as it exists. GUI thread only.
//
// It costs nothing while untouched: the 40 ms timer that makes the selection rectangle's
// fill alternate runs only while a rectangle, a drag or a pressed key is on screen, and a
// tick repaints only the rectangle.
class CQXLayersView : public QWidget {
    Q_OBJECT
public:
    static constexpr size_t kNoKey = 113;
    // Command identifiers of the two menus, also their actions' object names.
    enum Command {
        kDefine = 330,
        kDelete = 331,
        kPush = 332,
        kSwap = 350,
        kPaste = 351,
        kCancel = 352
    };

    CQXLayersView(QXLayersController& controller, QXDispatch& dispatch, QWidget* parent = nullptr);
    ~CQXLayersView() override;

    // The layer being edited, or none when the tree selects no layer.
    QXLayer::Ptr currentLayer() const;
    // A current layer without the fixed-item mark.
    bool canEditCurrent() const;
    // The key's button in the current layer holds an assignment of its own.
    bool hasOwnAssignment(size_t keyIndex) const;

    const std::bitset<113>& selectedKeys() const { return m_selected; }
    size_t anchorKey() const { return m_anchor; }
    size_t focusKey() const { return m_focus; }
    // Selects exactly these keys; the first becomes anchor and focus key.
    void selectKeys(const std::vector<size_t>& keys);

    double zoom() const { return m_zoom; }
    // The key's frame in view coordinates (the picture frame zoomed and rounded).
    QRect keyRect(size_t keyIndex) const;
    // The first key, in table order, whose frame holds the point; kNoKey for none.
    size_t hitTest(QPoint point) const;

    // The layer tree calls this (through setLayerTree) while a key is dragged over it.
    // itemOf answers which layer or group a tree item stands for.
    void setLayerTree(QTreeWidget* tree, std::function<QXLayersItem::Ptr(QTreeWidgetItem*)> itemOf);

    // The two menus; their enabling is brought up to date when they open. The key menu
    // also holds "Copy" and "Paste" (object names "copy" and "paste").
    QMenu* keyMenu() const { return m_keyMenu; }
    QMenu* dropMenu() const { return m_dropMenu; }
    void updateKeyMenu();

    void defineKeys();
    void deleteKeys();
    void pushKey();
    // Ctrl+C: the own assignments of the selected keys in the current layer go to the
    // clipboard (QXKeyClipboard); false when none of them has one.
    bool copyKeys();
    // Ctrl+V: the keys on the clipboard replace the same keys' assignments in the current
    // layer, with new plug-in instances and pictures of their own, and become the
    // selection; 2044 follows. False when the layer cannot be edited or the clipboard
    // holds no keys of ours.
    bool pasteKeys();

    // What is drawn: the picture with every key image, before zoom.
    const QImage& keyboardPicture() const { return m_picture; }
    // Times the view painted itself, and whether the animation timer runs.
    unsigned long paintCount() const { return m_paintCount; }
    bool animating() const { return m_animation.isActive(); }

    // Builds every key image and the picture again (2034, 2035, 2036, 2039).
    void rebuildImages();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    struct Drop {
        QXLayer::Ptr sourceLayer;
        size_t sourceKey = kNoKey;
        size_t targetKey = kNoKey;
    };

    void onViewImageChanged(qxwin::WPARAM view, qxwin::LPARAM keyIndex);
    void onDeviceKey(qxwin::WPARAM keyIndex, qxwin::LPARAM state);

    QImage keyImage(QXCompositeLayer& stack, size_t keyIndex);
    void paintKey(size_t keyIndex);
    void rescale();
    QRect pictureFrame(size_t keyIndex) const;
    QRect rubberBand() const;
    QRect dragImageRect() const;

    void setSelection(const std::bitset<113>& keys);
    void selectAlone(size_t keyIndex);
    void extendTo(size_t keyIndex);
    void selectInside(const QRectF& pictureRect);
    size_t verticalNeighbour(size_t start, int direction) const;

    void startDrag(size_t keyIndex);
    void trackDrag(QPoint viewPoint);
    void trackTree(QPoint globalPoint);
    void endDrag();
    void drop(Drop drop, bool paste); // by value: it may be m_pendingDrop
    void openKeyMenu(QPoint viewPoint);
    void changed();
    void updateAnimation();
    void tick();

    QXLayersController& m_controller;
    QXDispatch& m_dispatch;
    QImage m_template;
    QImage m_picture;
    QPixmap m_scaled; // m_picture at the zoom, so a repaint only copies
    double m_zoom = 1.0;

    std::bitset<113> m_selected;
    std::bitset<113> m_pressed; // marks set by the keyboard
    size_t m_anchor = 0;
    size_t m_focus = 0;
    size_t m_pressKey = kNoKey;
    QPoint m_pressPoint;
    QPoint m_corner;
    bool m_buttonDown = false;
    bool m_rubber = false;

    bool m_dragging = false;
    Qt::MouseButton m_dragButton = Qt::NoButton;
    Drop m_drag;
    Drop m_pendingDrop; // a right-button drop waiting for the drop menu
    QPixmap m_dragImage;
    QPoint m_dragPoint;

    QPointer<QTreeWidget> m_tree;
    std::function<QXLayersItem::Ptr(QTreeWidgetItem*)> m_itemOf;

    QMenu* m_keyMenu = nullptr;
    QMenu* m_dropMenu = nullptr;
    std::array<QAction*, 3> m_keyActions{};
    QAction* m_copyAction = nullptr;
    QAction* m_pasteAction = nullptr;

    QTimer m_animation;
    bool m_phase = false;
    unsigned long m_paintCount = 0;
};
