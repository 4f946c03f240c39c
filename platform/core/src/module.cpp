// Module objects and components.
#include "core_impl.h"

namespace Core {
namespace Module {

Component::~Component()
{
    if (registered_)
        Component::Unregister();
}

bool Component::Register()
{
    Host::Impl *c = Current();
    if (!c || registered_)
        return false;
    try {
        std::lock_guard<std::mutex> g(c->comp_mutex);
        if (!c->components.emplace(Ident(), this).second)
            return false;
    } catch (...) {
        return false;
    }
    registered_ = true;
    Journal(String("component register ") + Ident());
    return true;
}

void Component::Unregister()
{
    Host::Impl *c = Current();
    if (!c || !registered_)
        return;
    {
        std::lock_guard<std::mutex> g(c->comp_mutex);
        for (auto it = c->components.begin(); it != c->components.end(); ++it)
            if (it->second == this) {
                c->components.erase(it);
                break;
            }
    }
    registered_ = false;
}

struct Object::Owned {
    Component *component = nullptr;
    Command::Base *command = nullptr;
    Network::Interface::Factory::BaseCreator *creator = nullptr;
    ~Owned()
    {
        if (component) {
            component->Unregister();
            delete component;
        }
        if (command) {
            if (command->IsSetting())
                static_cast<Command::Setting *>(command)->Unregister();
            else
                static_cast<Command::Action *>(command)->Unregister();
            delete command;
        }
        if (creator) {
            creator->Unregister();
            delete creator;
        }
    }
};

Object::Object(const char *name, const char *description, const char *libraries, const char *needs,
               Mode::TypeT mode)
    : name_(name ? name : ""), description_(description ? description : ""),
      libraries_(libraries ? libraries : ""), needs_(needs ? needs : ""), mode_(mode)
{
}

Object::~Object() { Object::Cleanup(); }

void Object::Cleanup()
{
    while (!owned_.empty())
        owned_.pop_back();  // the latest first
}

bool Object::Register(Component *component)
{
    if (!component)
        return false;
    auto o = std::unique_ptr<Owned>(new (std::nothrow) Owned);
    if (!o) {
        delete component;
        return false;
    }
    if (!component->Register()) {
        delete component;
        return false;
    }
    o->component = component;
    try {
        owned_.push_back(std::move(o));
    } catch (...) {
        return false;  // o's destructor unregisters and deletes it
    }
    return true;
}

bool Object::Register(Command::Base *command)
{
    if (!command)
        return false;
    auto o = std::unique_ptr<Owned>(new (std::nothrow) Owned);
    bool ok = o != nullptr;
    if (ok) {
        ok = command->IsSetting() ? static_cast<Command::Setting *>(command)->Register()
                                  : static_cast<Command::Action *>(command)->Register();
    }
    if (!ok) {
        delete command;
        return false;
    }
    o->command = command;
    try {
        owned_.push_back(std::move(o));
    } catch (...) {
        return false;
    }
    return true;
}

bool Object::Register(Network::Interface::Factory::BaseCreator *creator)
{
    if (!creator)
        return false;
    auto o = std::unique_ptr<Owned>(new (std::nothrow) Owned);
    if (!o || !creator->Register()) {
        delete creator;
        return false;
    }
    o->creator = creator;
    try {
        owned_.push_back(std::move(o));
    } catch (...) {
        return false;
    }
    return true;
}

}  // namespace Module

Module::Component *Core::Find_(const char *ident)
{
    Host::Impl *c = Current();
    if (!c || !ident)
        return nullptr;
    std::lock_guard<std::mutex> g(c->comp_mutex);
    auto it = c->components.find(ident);
    return it == c->components.end() ? nullptr : it->second;
}

Task::Queue *Core::TaskQueue()
{
    Host::Impl *c = Current();
    return c ? c->core_queue.get() : nullptr;
}

}  // namespace Core
