#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <QPointer>
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

inline QString read(IQXPluginContext* context, const char16_t* name) {
    char16_t buffer[kQXTextCapacity] = {};
    if (!context->GetProperty(name, buffer))
        return {};
    return QString::fromUtf16(buffer);
}

inline void write(IQXPluginContext* context, const char16_t* name, const QString& value) {
    context->SetProperty(name, reinterpret_cast<const char16_t*>(value.utf16()));
}

// Decimal text; anything else reads as 0.
inline int64_t readNumber(IQXPluginContext* context, const char16_t* name) {
    bool ok = false;
    qlonglong value = read(context, name).trimmed().toLongLong(&ok);
    return ok ? value : 0;
}

// The property page an instance shows: made as a child of the host's parent, deleted by
// DestroyGUI or with the instance, whichever comes first.
class PageHolder {
public:
    PageHolder() = default;
    PageHolder(const PageHolder&) = delete;
    PageHolder& operator=(const PageHolder&) = delete;
    ~PageHolder() { delete m_page.data(); }

    QXWindowHandle show(QWidget* page) {
        delete m_page.data();
        m_page = page;
        page->show();
        return page;
    }
    QXBool destroy() {
        bool had = !m_page.isNull();
        delete m_page.data();
        return had ? 1 : 0;
    }
    template <typename T> T* page() const { return qobject_cast<T*>(m_page.data()); }

private:
    QPointer<QWidget> m_page;
};

} // namespace FunctionsProps
