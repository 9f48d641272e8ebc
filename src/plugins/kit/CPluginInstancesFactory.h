#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

// The registry behind a plug-in library's exported factories: which class makes the
// instance of each sub-plugin identifier the library offers.
//
// A library names a tag class (its "module") whose static registerClasses function registers
// each concrete class with one line, and exports the factories of the kinds it offers:
//
//     struct CFunctionsModule {
//         static void registerClasses(CPluginInstancesFactory<CFunctionsModule>& factory) {
//             factory.registerClass<CDrawStringView>(u"drawstring.view");
//             factory.registerClass<CStringAction>(u"string.action");
//         }
//     };
//     QX_PLUGIN_EXPORT_CREATE_VIEW(CFunctionsModule)
//     QX_PLUGIN_EXPORT_CREATE_ACTION(CFunctionsModule)
//
// A registered class derives from exactly one of the three instance interfaces and has a
// constructor taking the matching context pointer. Identifiers compare exactly (case
// matters); registering an identifier again replaces the earlier class.
//
// Lifetime and threads: the one factory object of a module is made by the first call of any
// export (registerClasses runs then) and destroyed when the library is unloaded. The
// exports are called on the program's GUI thread; the maps are only read afterwards.
template <typename Module> class CPluginInstancesFactory {
public:
    // Makes instances of one class. Creators are shared, and live as long as the factory.
    template <typename I, typename Ctx> class ICreator {
    public:
        virtual ~ICreator() = default;
        // A new instance that keeps context for its whole life; the program gives it up
        // with Release. May throw (the export then returns null).
        virtual I* create(Ctx* context) = 0;
    };

    template <typename I, typename Ctx, typename T> class CCreator : public ICreator<I, Ctx> {
    public:
        I* create(Ctx* context) override { return new T(context); }
    };

    using ViewCreator = ICreator<IQXViewPluginInstance, IQXViewPluginContext>;
    using ActionCreator = ICreator<IQXActionPluginInstance, IQXActionPluginContext>;
    using ConditionCreator = ICreator<IQXConditionPluginInstance, IQXConditionPluginContext>;

    static CPluginInstancesFactory& instance() {
        static CPluginInstancesFactory factory;
        return factory;
    }

    CPluginInstancesFactory(const CPluginInstancesFactory&) = delete;
    CPluginInstancesFactory& operator=(const CPluginInstancesFactory&) = delete;

    // Makes T the class of identifier id, in the map of T's kind.
    template <typename T> void registerClass(std::u16string_view id) {
        if constexpr (std::is_base_of_v<IQXViewPluginInstance, T>)
            m_views.insert_or_assign(
                std::u16string(id),
                std::shared_ptr<ViewCreator>(
                    new CCreator<IQXViewPluginInstance, IQXViewPluginContext, T>()));
        else if constexpr (std::is_base_of_v<IQXActionPluginInstance, T>)
            m_actions.insert_or_assign(
                std::u16string(id),
                std::shared_ptr<ActionCreator>(
                    new CCreator<IQXActionPluginInstance, IQXActionPluginContext, T>()));
        else if constexpr (std::is_base_of_v<IQXConditionPluginInstance, T>)
            m_conditions.insert_or_assign(
                std::u16string(id),
                std::shared_ptr<ConditionCreator>(
                    new CCreator<IQXConditionPluginInstance, IQXConditionPluginContext, T>()));
        else
            static_assert(sizeof(T) == 0, "a plug-in class implements a view, action or "
                                          "condition instance interface");
    }

    // A new instance of the class registered for id, or null when id is not a registered
    // identifier of that kind (or null) or making the instance threw.
    IQXViewPluginInstance* createView(const char16_t* id, IQXViewPluginContext* context) const {
        return create(m_views, id, context);
    }
    IQXActionPluginInstance* createAction(const char16_t* id,
                                          IQXActionPluginContext* context) const {
        return create(m_actions, id, context);
    }
    IQXConditionPluginInstance* createCondition(const char16_t* id,
                                                IQXConditionPluginContext* context) const {
        return create(m_conditions, id, context);
    }

private:
    template <typename Creator>
    using CreatorMap = std::map<std::u16string, std::shared_ptr<Creator>, std::less<>>;

    CPluginInstancesFactory() { Module::registerClasses(*this); }

    template <typename I, typename Ctx>
    static I* create(const CreatorMap<ICreator<I, Ctx>>& map, const char16_t* id, Ctx* context) {
        if (!id)
            return nullptr;
        auto it = map.find(std::u16string_view(id));
        if (it == map.end())
            return nullptr;
        // Nothing is thrown across the library boundary.
        try {
            return it->second->create(context);
        } catch (...) {
            return nullptr;
        }
    }

    CreatorMap<ViewCreator> m_views;
    CreatorMap<ActionCreator> m_actions;
    CreatorMap<ConditionCreator> m_conditions;
};

// The exported factories of a module, one macro per kind the library offers; put them in
// the library's entry file, at namespace scope, outside any namespace.
#define QX_PLUGIN_EXPORT_CREATE_VIEW(Module)                                                       \
    QX_PLUGIN_EXPORT IQXViewPluginInstance* createView(const char16_t* id,                         \
                                                       IQXViewPluginContext* context) {            \
        return CPluginInstancesFactory<Module>::instance().createView(id, context);                \
    }                                                                                              \
    static_assert(std::is_same_v<decltype(&createView), QXCreateViewFunction>);

#define QX_PLUGIN_EXPORT_CREATE_ACTION(Module)                                                     \
    QX_PLUGIN_EXPORT IQXActionPluginInstance* createAction(const char16_t* id,                     \
                                                           IQXActionPluginContext* context) {      \
        return CPluginInstancesFactory<Module>::instance().createAction(id, context);              \
    }                                                                                              \
    static_assert(std::is_same_v<decltype(&createAction), QXCreateActionFunction>);

#define QX_PLUGIN_EXPORT_CREATE_CONDITION(Module)                                                  \
    QX_PLUGIN_EXPORT IQXConditionPluginInstance* createCondition(                                  \
        const char16_t* id, IQXConditionPluginContext* context) {                                  \
        return CPluginInstancesFactory<Module>::instance().createCondition(id, context);           \
    }                                                                                              \
    static_assert(std::is_same_v<decltype(&createCondition), QXCreateConditionFunction>);
