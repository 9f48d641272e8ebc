#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <QPointer>
#include <QString>
#include <QWidget>

// The key's own properties as plug-ins with Qt pages read and write them, and the page an
// instance shows. Header only; users link Qt6::Widgets.
namespace QXPluginProps {

// The property's text; empty when the key has none.
inline QString read(IQXPluginContext* context, const char16_t* name) {
    char16_t buffer[kQXTextCapacity] = {};
    if (!context->GetProperty(name, buffer))
        return {};
    return QString::fromUtf16(buffer);
}

inline void write(IQXPluginContext* context, const char16_t* name, const QString& value) {
    context->SetProperty(name, reinterpret_cast<const char16_t*>(value.utf16()));
}

// The property page an instance shows: made as a child of the host's parent, deleted by
// DestroyGUI or with the instance, whichever comes first. GUI thread.
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

} // namespace QXPluginProps
