#pragma once

#include <QImage>
#include <vector>

// The editor's one list of small (16 x 16) icons for its tree and list views: the
// program's own icon first, then whatever icons the views add (applications, layouts).
// Used on the GUI thread only.
class QXGlobalImageList {
public:
    static constexpr int kIconSize = 16;
    static constexpr int kProgramIcon = 0;

    static QXGlobalImageList& instance();

    // Adds an icon, scaled to 16 x 16 with an alpha channel; returns its index. A null
    // image adds a transparent icon, so indexes handed out stay meaningful.
    int add(const QImage& icon);
    int count() const { return static_cast<int>(m_icons.size()); }
    // The icon at the index; a transparent icon for an index out of range.
    QImage icon(int index) const;

private:
    QXGlobalImageList();

    std::vector<QImage> m_icons; // grows by 50 at a time
};
