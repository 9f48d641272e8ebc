#pragma once

#include "kit/QXPluginProps.h"
#include "pluginhost/QXPluginInterfaces.h"

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

using QXPluginProps::read;
using QXPluginProps::write;
using QXPluginProps::PageHolder;

} // namespace SysStatProps
