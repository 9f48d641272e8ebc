#pragma once

#include "kit/QXPluginProps.h"
#include "pluginhost/QXPluginInterfaces.h"

#include <QString>
#include <QWidget>
#include <cstdint>

// What the property pages of the Functions plug-in write back through: each setter keeps the
// value in the instance, stores it at once with SetProperty and, for the view, redraws.
// GUI thread.

class IStringPluginViewProps {
public:
    virtual QString string() const = 0;
    virtual void setString(const QString& text) = 0;

protected:
    ~IStringPluginViewProps() = default;
};

class IExecutePluginViewProps {
public:
    virtual QString path() const = 0;
    virtual void setPath(const QString& path) = 0;

protected:
    ~IExecutePluginViewProps() = default;
};

class IHotkeyPluginViewProps {
public:
    // "Hotkey" as stored: "<modifiers>:<virtual key>".
    virtual QString hotkey() const = 0;
    virtual void setHotkey(uint32_t modifiers, uint32_t virtualKey) = 0;

protected:
    ~IHotkeyPluginViewProps() = default;
};

// The text picture's settings; colours in the packed 0x00BBGGRR form they are stored in.
struct DrawStringSettings {
    QString text;
    QString font;
    int size = 0; // points, as stored
    uint32_t color = 0;
    uint32_t bkColor = 0;
    bool bold = false;
    bool italic = false;
};

class IDrawStringPluginViewProps {
public:
    virtual DrawStringSettings settings() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual void setFont(const QString& family) = 0;
    virtual void setSize(int points) = 0;
    virtual void setColor(uint32_t colorref) = 0;
    virtual void setBkColor(uint32_t colorref) = 0;
    virtual void setBold(bool bold) = 0;
    virtual void setItalic(bool italic) = 0;

protected:
    ~IDrawStringPluginViewProps() = default;
};

namespace FunctionsProps {

using QXPluginProps::read;
using QXPluginProps::write;
using QXPluginProps::PageHolder;

// Decimal text; anything else reads as 0.
inline int64_t readNumber(IQXPluginContext* context, const char16_t* name) {
    bool ok = false;
    qlonglong value = read(context, name).trimmed().toLongLong(&ok);
    return ok ? value : 0;
}

} // namespace FunctionsProps
