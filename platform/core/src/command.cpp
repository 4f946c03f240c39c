// Commands, their arguments and the tree that holds them.
#include "core_impl.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace Command {

bool Request::Has(const String &name) const
{
    for (const auto &v : values_)
        if (v.first == name)
            return true;
    return false;
}
String Request::Get(const String &name) const
{
    for (const auto &v : values_)
        if (v.first == name)
            return v.second;
    return String();
}
void Request::Set(const String &name, const String &value)
{
    for (auto &v : values_)
        if (v.first == name) {
            v.second = value;
            return;
        }
    values_.emplace_back(name, value);
}

void Config::Set(const String &key, const String &value)
{
    try {
        current_.emplace_back(key, value);
    } catch (...) {
    }
}
void Config::Set(const String &key, int64_t value) { Set(key, std::to_string(value)); }
void Config::End()
{
    try {
        entries_.push_back(std::move(current_));
    } catch (...) {
    }
    current_.clear();
}

namespace Argument {

bool Base::Accept(String &value, String *why)
{
    if (value.empty() && !Optional()) {
        *why = "empty " + name_;
        return false;
    }
    return true;
}

bool List::Accept(String &value, String *why)
{
    if (behaviour_ != 0)
        return true;
    for (const String &v : Offer())
        if (strcasecmp(v.c_str(), value.c_str()) == 0)
            return true;
    *why = "\"" + value + "\" is not a known " + Name();
    return false;
}

StringVector List::Offer()
{
    StringVector v;
    if (maker_ && !maker_->Produce(v))
        v.clear();
    return v;
}

bool Filename::Accept(String &value, String *why)
{
    if (repo_ && repo_->IsValidName(value))
        return true;
    if (any_text_ && !value.empty())
        return true;
    *why = "\"" + value + "\" is not a file name";
    return false;
}

StringVector Filename::Offer() { return repo_ ? repo_->Names() : StringVector(); }

bool MacAddress::Accept(String &value, String *why)
{
    Network::MacAddress m;
    if (!m.Parse(value)) {
        *why = "\"" + value + "\" is not a MAC address";
        return false;
    }
    Network::MacAddress *slot = slot_ ? slot_->Get() : nullptr;
    if (slot_ && !slot) {
        *why = "no memory";
        return false;
    }
    if (slot)
        *slot = m;
    value = m.ToString();
    return true;
}

bool Number::Accept(String &value, String *why)
{
    if (value.empty() || value.size() > 10 || !std::all_of(value.begin(), value.end(), ::isdigit)) {
        *why = "\"" + value + "\" is not a number";
        return false;
    }
    uint64_t v = std::stoull(value);
    if (v < min_ || v > max_) {
        *why = "\"" + value + "\" is out of range";
        return false;
    }
    return true;
}

bool Parser::Add(Base *argument)
{
    if (!argument)
        return false;
    try {
        args_.emplace_back(argument);
    } catch (...) {
        delete argument;
        return false;
    }
    return true;
}

const Base *Parser::Find(const String &name) const
{
    for (const auto &a : args_)
        if (a->Name() == name)
            return a.get();
    return nullptr;
}

bool Parser::Parse(const StringVector &words, Request &request, String *why)
{
    size_t i = 0;
    auto names_later = [&](size_t from, const String &w) {
        for (size_t k = from; k < args_.size(); ++k)
            if ((args_[k]->Introduced() || args_[k]->IsKeyword()) && args_[k]->Name() == w)
                return true;
        return false;
    };
    for (size_t a = 0; a < args_.size(); ++a) {
        Base &arg = *args_[a];
        const bool have = i < words.size();
        if (arg.IsKeyword()) {
            if (have && words[i] == arg.Name()) {
                request.Set(arg.Name(), "1");
                ++i;
            } else if (!arg.Optional()) {
                *why = "missing \"" + arg.Name() + "\"";
                return false;
            }
            continue;
        }
        if (arg.Introduced()) {
            if (have && words[i] == arg.Name()) {
                if (i + 1 >= words.size()) {
                    *why = "\"" + arg.Name() + "\" needs a value";
                    return false;
                }
                String v = words[i + 1];
                if (!arg.Accept(v, why))
                    return false;
                request.Set(arg.Name(), v);
                i += 2;
            } else if (!arg.Optional()) {
                *why = "missing \"" + arg.Name() + "\"";
                return false;
            }
            continue;
        }
        if (!have || (arg.Optional() && names_later(a + 1, words[i]))) {
            if (!arg.Optional()) {
                *why = "missing " + arg.Name();
                return false;
            }
            if (auto *l = dynamic_cast<List *>(&arg))
                if (!l->Default().empty())
                    request.Set(arg.Name(), l->Default());
            continue;
        }
        String v = words[i];
        if (!arg.Accept(v, why))
            return false;
        request.Set(arg.Name(), v);
        ++i;
    }
    if (i < words.size()) {
        *why = "unexpected \"" + words[i] + "\"";
        return false;
    }
    return true;
}

}  // namespace Argument

Base::Base(const char *parent, const char *keyword, unsigned number, const char *help, unsigned flags,
           const ErrorCodeEntry *errors, const char *prompt)
    : parent_(parent ? parent : ""), keyword_(keyword ? keyword : ""), help_(help ? help : ""),
      prompt_(prompt ? prompt : ""), number_(number), flags_(flags), errors_(errors)
{
    initialized_ = !::Core::Fail("command.init");
}

Base::~Base()
{
    if (in_tree_)
        UnregisterFromTree();
}

String Base::Path() const { return parent_.empty() ? keyword_ : parent_ + " " + keyword_; }

const char *Base::Blames(ReturnT code) const
{
    if (!errors_)
        return nullptr;
    for (const ErrorCodeEntry *e = errors_; e->code != 0; ++e)
        if (static_cast<ReturnT>(e->code) == code)
            return e->argument;
    return nullptr;
}

bool Base::RegisterInTree()
{
    Core::Host::Impl *c = ::Core::Current();
    if (!c || in_tree_ || keyword_.empty())
        return false;
    if (c->ShouldFail("command.register") || !c->commands->Add(this)) {
        ::Core::Journal("command register " + Path() + " refused");
        return false;
    }
    in_tree_ = true;
    ::Core::Journal("command register " + Path());
    return true;
}

void Base::UnregisterFromTree()
{
    if (!in_tree_)
        return;
    if (Core::Host::Impl *c = ::Core::Current())
        c->commands->Remove(this);
    in_tree_ = false;
    ::Core::Journal("command unregister " + Path());
}

namespace {
ReturnT Done() { return static_cast<ReturnT>(Code::DONE); }
}  // namespace

// Settings and actions are the only kinds; the flag says which.
ReturnT Base::DoExecute(Request &req, Response &resp)
{
    return setting_ ? static_cast<Setting *>(this)->Execute(req, resp)
                    : static_cast<Action *>(this)->Execute(req, resp);
}
ReturnT Base::DoGetConfig(Config &out)
{
    return setting_ ? static_cast<Setting *>(this)->GetConfig(out)
                    : static_cast<Action *>(this)->GetConfig(out);
}
bool Base::DoProbe(Request &req)
{
    return setting_ ? static_cast<Setting *>(this)->Probe(req) : static_cast<Action *>(this)->Probe(req);
}
ReturnT Base::DoContinue(Request &req, Response &resp)
{
    return setting_ ? static_cast<Setting *>(this)->Continue(req, resp)
                    : static_cast<Action *>(this)->Continue(req, resp);
}
ReturnT Base::DoTerminate(Request &req, Response &resp)
{
    return setting_ ? static_cast<Setting *>(this)->Terminate(req, resp)
                    : static_cast<Action *>(this)->Terminate(req, resp);
}
bool Base::DoArgumentParser(Argument::Parser &p, bool no)
{
    if (setting_) {
        auto *s = static_cast<Setting *>(this);
        return no ? s->GetArgumentParserNo(p) : s->GetArgumentParser(p);
    }
    auto *a = static_cast<Action *>(this);
    return no ? a->GetArgumentParserNo(p) : a->GetArgumentParser(p);
}

Setting::~Setting() = default;
bool Setting::Register() { return Initialized() && RegisterInTree(); }
void Setting::Unregister() { UnregisterFromTree(); }
ReturnT Setting::Execute(Request &, Response &) { return Done(); }
ReturnT Setting::GetConfig(Config &) { return Done(); }
bool Setting::Probe(Request &) { return true; }
ReturnT Setting::Continue(Request &, Response &) { return Done(); }
ReturnT Setting::Terminate(Request &, Response &) { return Done(); }
bool Setting::GetArgumentParser(Argument::Parser &) { return true; }
bool Setting::GetArgumentParserNo(Argument::Parser &) { return true; }
const char *Setting::Name() const { return Keyword().c_str(); }

Action::~Action() = default;
bool Action::Register() { return Initialized() && RegisterInTree(); }
void Action::Unregister() { UnregisterFromTree(); }
ReturnT Action::Execute(Request &, Response &) { return Done(); }
bool Action::Probe(Request &) { return true; }
ReturnT Action::Continue(Request &, Response &) { return Done(); }
ReturnT Action::Terminate(Request &, Response &) { return Done(); }
bool Action::GetArgumentParser(Argument::Parser &) { return true; }
bool Action::GetArgumentParserNo(Argument::Parser &) { return true; }
ReturnT Action::GetConfig(Config &) { return Done(); }

namespace Util {
bool Progress::Update(Xml::Node &node)
{
    int percent = 0;
    if (Core::Host::Impl *c = ::Core::Current()) {
        std::lock_guard<std::mutex> g(c->ev_mutex);
        auto it = c->progress.find(what_);
        if (it != c->progress.end())
            percent = it->second;
    }
    Xml::Node *p = node.AddChild("progress");
    if (!p)
        return false;
    p->Add("what", what_);
    p->Add("percent", percent);
    return node.Valid();
}
}  // namespace Util

}  // namespace Command

namespace Core {

bool CommandTree::Add(Command::Base *c)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    const String path = c->Path();
    for (auto *o : commands_)
        if (o->Path() == path)
            return false;
    try {
        commands_.push_back(c);
    } catch (...) {
        return false;
    }
    return true;
}

void CommandTree::Remove(Command::Base *c)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    commands_.erase(std::remove(commands_.begin(), commands_.end(), c), commands_.end());
}

Command::Base *CommandTree::Find(const String &path)
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    for (auto *o : commands_)
        if (o->Path() == path)
            return o;
    return nullptr;
}

std::vector<Command::Base *> CommandTree::All()
{
    std::lock_guard<std::recursive_mutex> g(mutex_);
    return commands_;
}

}  // namespace Core
