#pragma once

#include "controls/TesControlsApi.h"

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <vector>

class CTesSizeGrip;
class QPainter;

// Layout mode bits of TES_DLG_CONTROL::flags. Every change is measured against the
// dialog's initial client size, never against the previous size.
enum : unsigned char {
    TES_FOLLOW_WIDTH = 1,  // the width grows and shrinks with the dialog's width
    TES_FOLLOW_HEIGHT = 2, // the height grows and shrinks with the dialog's height
    TES_MOVE_RIGHT = 4,    // the control moves right as the dialog widens
    TES_MOVE_DOWN = 8,     // the control moves down as the dialog grows taller
};

// One control kept in place by a CTesDialog. Passed by value; the record watches the
// control, so a control deleted before its dialog is simply skipped.
struct TES_DLG_CONTROL {
    QPointer<QWidget> hWnd; // the control; not owned
    unsigned char flags = TES_MOVE_RIGHT | TES_MOVE_DOWN;
    // The control's rectangle in the dialog's client coordinates when it was added. A
    // rectangle of no width means "the control's geometry at the time it is added".
    QRect rect;
    // 0: the dialog leaves the control's area alone when it paints its background (for
    // controls that paint every pixel of their own); non-zero: the background is painted.
    int erase = 1;
};

// Sizing edges as the window system numbers them, for OnSizing.
enum TesSizingEdge : unsigned int {
    WMSZ_LEFT = 1,
    WMSZ_RIGHT = 2,
    WMSZ_TOP = 3,
    WMSZ_TOPLEFT = 4,
    WMSZ_TOPRIGHT = 5,
    WMSZ_BOTTOM = 6,
    WMSZ_BOTTOMLEFT = 7,
    WMSZ_BOTTOMRIGHT = 8,
};

// The smallest and largest size the user may give the dialog; an invalid size is no limit.
struct TES_MINMAXINFO {
    QSize minTrackSize;
    QSize maxTrackSize;
};

// A dialog that keeps its controls laid out as it is resized, can hold itself to an
// aspect ratio and shows a 16 x 16 size grip (identifier "5000") in its bottom-right
// corner.
//
// Use: construct and build the controls; override OnInitDialog, call the base version
// first, then AddControl for every control that must follow the size; optionally
// SetRatioRect and rcMax there too. OnInitDialog runs once, just before the dialog is
// first shown, so the sizes it records are the ones the user first sees. The dialog
// never shrinks below that size. To embed the dialog as a page in another window, give
// it the parent and Qt::Widget as its window flags before it is shown.
//
// GUI thread only.
class TES_CONTROLS_API CTesDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kGripSize = 16;

    CTesDialog(unsigned int templateId, QWidget* parent, int showGrip);
    ~CTesDialog() override;

    // A null control is ignored, and one outside the dialog refused with a warning.
    // flags: TES_* bits; erase: see TES_DLG_CONTROL.
    void AddControl(QWidget* control, unsigned char flags, int erase, QRect rect);
    // A record without a control is ignored.
    void AddControl(TES_DLG_CONTROL control);
    // Holds the dialog to ratio->x() : ratio->y() while it is resized; ignored unless both
    // are positive (and for a null pointer).
    void SetRatioRect(const QPoint* ratio);

    // Called by OnInitDialog before any size is recorded; empty here.
    virtual void OnInit();

    unsigned int templateId() const { return m_templateId; }

protected:
    virtual int OnInitDialog();
    int OnEraseBkgnd(QPainter* dc);
    void OnGetMinMaxInfo(TES_MINMAXINFO* info);
    void OnLButtonDown(unsigned int flags, QPoint point);
    void OnLButtonUp(unsigned int flags, QPoint point);
    void OnMouseMove(unsigned int flags, QPoint point);
    void OnSize(unsigned int type, int cx, int cy);
    // Corrects the geometry the dialog is being sized to at the edge (WMSZ_*) so that its
    // growth over the initial size keeps the aspect ratio; unchanged without a ratio.
    void OnSizing(unsigned int edge, QRect* rect);

    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

    QRect rcClient;        // the client rectangle after the last resize
    QRect rcMax;           // a positive width makes its size the largest size (set in OnInitDialog)
    QRect rcInitialClient; // the client rectangle when OnInitDialog ran
    // Where the dialog was and how big when OnInitDialog ran (its geometry: Qt places and
    // sizes windows by their client area); also the smallest size it may take.
    QRect rcInitialWindow;
    CTesSizeGrip* sizeGrip = nullptr; // owned as a child; null without a grip
    int keepCursor = 0;               // non-zero: leaving the grip square keeps the sizing pointer
    bool sizingCursor = false;
    QPoint ratio; // x : y; inactive while either is 0
    int showGrip;
    std::vector<TES_DLG_CONTROL> controls; // in the order of adding

private:
    QRect gripSquare() const;
    unsigned int sizingEdge(const QRect& now) const;
    void placeGrip();

    unsigned int m_templateId;
    bool m_initialised = false;
    bool m_correcting = false;
    QRect m_lastGeometry; // to tell which edge a resize moved
    // Our own corner drag, where the window system runs none (embedded, offscreen).
    bool m_dragging = false;
    QPoint m_dragStart;
    QSize m_dragStartSize;
};
