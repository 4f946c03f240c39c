// Plug-in modules, components and the core itself.
#ifndef ZMOCORE_MODULE_H
#define ZMOCORE_MODULE_H

#include "zmocore/base.h"

namespace Command {
class Base;
}
namespace Network {
namespace Interface {
namespace Factory {
class BaseCreator;
}
}  // namespace Interface
}  // namespace Network
namespace Task {
class Queue;
}

namespace Core {

class Host;

namespace Mode {
// Which kinds of device a module runs on; a mask.
typedef uint32_t TypeT;
}  // namespace Mode

namespace Module {

// A named part of the core that others find by its identifier.
class ZMOCORE_API Component {
public:
    virtual ~Component();
    // Makes it findable by Ident(); refused when another has the identifier.
    virtual bool Register();
    virtual void Unregister();
    virtual const char *Ident() const = 0;

private:
    bool registered_ = false;
};

// A plug-in's static module object, returned by its "<library>Object" entry.
class ZMOCORE_API Object {
public:
    Object(const char *name, const char *description, const char *libraries, const char *needs,
           Mode::TypeT mode);
    virtual ~Object();
    virtual ReturnT Initialize() = 0;
    // Unregisters and destroys what Register took, the latest first.
    virtual void Cleanup();

    // Each takes the object from the call on, accepted or not, and registers
    // it; a null pointer is a refusal.
    bool Register(Component *component);
    bool Register(Command::Base *command);
    bool Register(Network::Interface::Factory::BaseCreator *creator);

    const String &Name() const { return name_; }
    const String &Description() const { return description_; }
    const String &Libraries() const { return libraries_; }
    const String &Needs() const { return needs_; }
    Mode::TypeT ModeMask() const { return mode_; }

private:
    struct Owned;
    String name_, description_, libraries_, needs_;
    Mode::TypeT mode_;
    std::vector<std::unique_ptr<Owned>> owned_;
};

}  // namespace Module

// The core as plug-ins see it: components by identifier and the core's own
// task queue.
class ZMOCORE_API Core {
public:
    // A registered component or null; the caller casts it to the class it needs.
    static Module::Component *Find_(const char *ident);
    static Task::Queue *TaskQueue();
};

}  // namespace Core

#endif
