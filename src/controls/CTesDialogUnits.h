#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <algorithm>

// Dialog units of a font, the measure window templates are laid out in: a quarter of the
// average width of the Latin letters across, an eighth of the line height down.
class CTesDialogUnits {
public:
    explicit CTesDialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const int letters = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        m_x = std::max(1, (letters / 26 + 1) / 2);
        m_y = std::max(1, metrics.height());
    }

    int x(int units) const { return units * m_x / 4; }
    int y(int units) const { return units * m_y / 8; }
    // The rectangle of a template's (x, y, width, height), edges rounded as the template's.
    QRect rect(int left, int top, int width, int height) const {
        return QRect(x(left), y(top), x(left + width) - x(left), y(top + height) - y(top));
    }

private:
    int m_x;
    int m_y;
};
