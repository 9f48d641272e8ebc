#pragma once

#include <QImage>
#include <QString>

// The indicator of a lock key; other keys have none.
enum class LockLight { None, Off, On };

// A key picture that shows a text label in the style of the verb icons: light text centred on
// a dark key face, shrunk to fit when long. A lock key carries an indicator in its upper right
// corner; when it is on, the indicator glows and the face is brighter. The picture is
// kKeySize pixels square with transparent corners.
QImage drawLabelKey(const QString& label, LockLight light = LockLight::None);
