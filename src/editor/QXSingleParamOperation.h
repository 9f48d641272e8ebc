#pragma once

#include "store/QXPtr.h"

#include <type_traits>
#include <utility>

// One edit of one object: the object (held by reference count, so the edit stays valid
// while the editor tears down the controls that made it), one of its setters and the
// new value. Nothing changes until execute().
template <class C, class V> class QXSingleParamOperation {
public:
    using Setter = void (C::*)(V);
    using Value = std::remove_cvref_t<V>;

    QXSingleParamOperation(QXPtr<C> target, Setter setter, Value value)
        : m_target(std::move(target)), m_setter(setter), m_value(std::move(value)) {}

    // Calls the setter with the value; an operation without an object does nothing.
    void execute() const {
        C* target = m_target.get();
        if (target)
            (target->*m_setter)(m_value);
    }

    const Value& value() const { return m_value; }

private:
    QXPtr<C> m_target;
    Setter m_setter;
    Value m_value;
};

// Deduces the types from the setter.
template <class C, class D, class V, class W>
QXSingleParamOperation<D, V> makeSingleParamOperation(QXPtr<C> target, void (D::*setter)(V),
                                                      W&& value) {
    return QXSingleParamOperation<D, V>(target.template staticCast<D>(), setter,
                                        std::forward<W>(value));
}
