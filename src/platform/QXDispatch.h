#pragma once

#include "platform/QXWin32.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <type_traits>
#include <vector>

// The message switchboard of the program. Controllers bind member functions to message
// numbers; producers send (the handlers have run when the call returns) or post (the
// handlers run later). Handlers always run on the thread that owns the dispatch, the
// GUI thread in the program: the window implementation carries sends and posts from
// other threads over to it. This core runs sends at once and queues posts until
// runPosted(), which is what tests of the model use.
class QXDispatch {
public:
    using WPARAM = qxwin::WPARAM;
    using LPARAM = qxwin::LPARAM;

    // One binding: an object and one of its member functions.
    class CFunctionAdaptor {
    public:
        virtual ~CFunctionAdaptor() = default;
        virtual void invoke(WPARAM* wParam, LPARAM* lParam) = 0;
        // Bound to the same object and member function.
        virtual bool sameBinding(const CFunctionAdaptor& other) const = 0;
        virtual const void* object() const = 0;
    };

    template <class T, class F> class CMemFuncAdaptorData : public CFunctionAdaptor {
    public:
        CMemFuncAdaptorData(T* object, F member) : m_object(object), m_member(member) {}
        bool sameBinding(const CFunctionAdaptor& other) const override {
            auto* same = dynamic_cast<const CMemFuncAdaptorData*>(&other);
            return same && same->m_object == m_object && same->m_member == m_member;
        }
        const void* object() const override { return m_object; }

    protected:
        T* m_object;
        F m_member;
    };

    // Calls void (T::*)(); the parameters are ignored.
    template <class T> class CMemFun : public CMemFuncAdaptorData<T, void (T::*)()> {
    public:
        using CMemFuncAdaptorData<T, void (T::*)()>::CMemFuncAdaptorData;
        void invoke(WPARAM*, LPARAM*) override {
            // Through locals: GCC 12's vptr sanitizer trips over the member access form.
            T* object = this->m_object;
            auto member = this->m_member;
            (object->*member)();
        }
    };

    // Calls void (T::*)(A) with wParam.
    template <class T, class A> class CMemFun1 : public CMemFuncAdaptorData<T, void (T::*)(A)> {
    public:
        using CMemFuncAdaptorData<T, void (T::*)(A)>::CMemFuncAdaptorData;
        void invoke(WPARAM* w, LPARAM*) override {
            T* object = this->m_object;
            auto member = this->m_member;
            (object->*member)(convert<A>(*w));
        }
    };

    // Calls void (T::*)(A, B) with wParam and lParam.
    template <class T, class A, class B>
    class CMemFun2 : public CMemFuncAdaptorData<T, void (T::*)(A, B)> {
    public:
        using CMemFuncAdaptorData<T, void (T::*)(A, B)>::CMemFuncAdaptorData;
        void invoke(WPARAM* w, LPARAM* l) override {
            T* object = this->m_object;
            auto member = this->m_member;
            (object->*member)(convert<A>(*w), convert<B>(*l));
        }
    };

    QXDispatch() = default;
    virtual ~QXDispatch() = default;
    QXDispatch(const QXDispatch&) = delete;
    QXDispatch& operator=(const QXDispatch&) = delete;

    // Binds a member function to a message; binding the same pair again does nothing.
    template <class T> void RegisterHandler(uint32_t message, T* object, void (T::*member)()) {
        add(message, std::make_shared<CMemFun<T>>(object, member));
    }
    template <class T, class A>
    void RegisterHandler(uint32_t message, T* object, void (T::*member)(A)) {
        add(message, std::make_shared<CMemFun1<T, A>>(object, member));
    }
    template <class T, class A, class B>
    void RegisterHandler(uint32_t message, T* object, void (T::*member)(A, B)) {
        add(message, std::make_shared<CMemFun2<T, A, B>>(object, member));
    }

    // Removes every binding of the object; none of them runs afterwards, also when the
    // call comes from inside a handler of the message being dispatched.
    void UnregisterObject(const void* object);

    // Runs the bindings of the message, then hands it to the subscribed windows.
    void Dispatch(uint32_t message, WPARAM wParam, LPARAM lParam);

    // Sends: the handlers have run when the call returns.
    virtual void Send(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0);
    // Posts: the handlers run later, in the order of posting.
    virtual void Post(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0);
    // A data block as another program hands it over: dispatched as (dwData, data, 0)
    // while the call lasts; a block without data is not dispatched.
    void SendCopyData(uint32_t dwData, const void* data, size_t size);

    // Runs the posted messages (the core's own queue only).
    void runPosted();

    size_t bindingCount(uint32_t message) const;

    // Held by the GUI thread while it waits for another thread (a plug-in's worker whose
    // tick or callback may be sending right now). Sends from other threads stop waiting
    // for their handlers while one is held; the handlers still run later, so they must
    // check that what a message points to still exists.
    class GuiWait {
    public:
        GuiWait();
        ~GuiWait();
        GuiWait(const GuiWait&) = delete;
        GuiWait& operator=(const GuiWait&) = delete;
        static bool active();
    };

    // The dispatch the program's parts talk to; a plain core until the application
    // installs its window. The caller keeps an installed dispatch alive.
    static QXDispatch& current();
    static void setCurrent(QXDispatch* dispatch);

    template <class A> static A convert(WPARAM value) {
        if constexpr (std::is_pointer_v<A>)
            return reinterpret_cast<A>(value);
        else
            return static_cast<A>(value);
    }
    template <class A> static A convert(LPARAM value) {
        if constexpr (std::is_pointer_v<A>)
            return reinterpret_cast<A>(value);
        else
            return static_cast<A>(value);
    }

protected:
    // Subscribed windows get the message after the bindings; none in the core.
    virtual void deliverToWindows(uint32_t message, WPARAM wParam, LPARAM lParam);

private:
    using Binding = std::shared_ptr<CFunctionAdaptor>;

    void add(uint32_t message, Binding binding);
    bool stillBound(uint32_t message, const Binding& binding) const;

    std::map<uint32_t, std::vector<Binding>> m_handlers;
    std::mutex m_postedLock; // posts may come from any thread
    std::deque<std::tuple<uint32_t, WPARAM, LPARAM>> m_posted;
};
