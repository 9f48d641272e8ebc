#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <QPointer>
#include <QString>
#include <QWidget>

// What the property windows of the memory and network views write back through: each
// setter keeps the value in the view, where its next update reads it, and stores it at once
// with SetProperty. GUI thread.

class IMemWatcherProps {
public:
    virtual int memoryType() const = 0;
    // 0 physical, 1 paging, 2 virtual; stored as "MemoryType".
    virtual void SetMemoryType(int index) = 0;

protected:
    ~IMemWatcherProps() = default;
};

class INetWatcherProps {
public:
    virtual QString adapter() const = 0;
    // An interface name; empty for all adapters. Stored as "Adapter".
    virtual void SetAdapter(const QString& name) = 0;

protected:
    ~INetWatcherProps() = default;
};

namespace SysStatProps {

inline QString read(IQXPluginContext* context, const char16_t* name) {
    char16_t buffer[kQXTextCapacity] = {};
    if (!context->GetProperty(name, buffer))
        return {};
    return QString::fromUtf16(buffer);
}

inline void write(IQXPluginContext* context, const char16_t* name, const QString& value) {
    context->SetProperty(name, reinterpret_cast<const char16_t*>(value.utf16()));
}

// The property window a view shows: deleted by DestroyGUI or with the view, whichever
// comes first.
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

private:
    QPointer<QWidget> m_page;
};

} // namespace SysStatProps
