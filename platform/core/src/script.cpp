// The script host: command lines as the tree takes them, and the lines that
// play the rest of the router (events, waits, the clock, interfaces).
#include "builtins.h"

#include <cstdio>
#include <istream>
#include <ostream>

namespace Core {

namespace {

String Hex(uint32_t code)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08x", code);
    return b;
}

// Blank-separated words; double quotes group, a backslash inside them escapes.
bool Tokenize(const String &line, StringVector *out)
{
    out->clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
            ++i;
        if (i >= line.size())
            break;
        String w;
        bool quoted = false;
        while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            char c = line[i++];
            if (c == '"') {
                quoted = !quoted;
            } else if (quoted && c == '\\' && i < line.size()) {
                w += line[i++];
            } else {
                w += c;
            }
        }
        if (quoted)
            return false;
        out->push_back(w);
    }
    return true;
}

String QuoteWord(const String &w)
{
    bool plain = !w.empty();
    for (char c : w)
        if (c == ' ' || c == '\t' || c == '"' || c == '\\')
            plain = false;
    if (plain)
        return w;
    String o = "\"";
    for (char c : w) {
        if (c == '"' || c == '\\')
            o += '\\';
        o += c;
    }
    return o + "\"";
}

// "key=value" words into a map; words without '=' are kept in order.
std::map<String, String> KeyValues(const StringVector &w, size_t from, StringVector *rest = nullptr)
{
    std::map<String, String> kv;
    for (size_t i = from; i < w.size(); ++i) {
        size_t eq = w[i].find('=');
        if (eq == String::npos) {
            if (rest)
                rest->push_back(w[i]);
            continue;
        }
        kv[w[i].substr(0, eq)] = w[i].substr(eq + 1);
    }
    return kv;
}

String Get(const std::map<String, String> &kv, const String &k, const String &def = String())
{
    auto it = kv.find(k);
    return it == kv.end() ? def : it->second;
}

// "1500ms", "5s", "2" (ms).
bool ParseSpan(const String &t, int64_t *ms)
{
    size_t i = 0;
    int64_t v = 0;
    while (i < t.size() && isdigit(static_cast<unsigned char>(t[i]))) {
        v = v * 10 + (t[i] - '0');
        if (v > 100000000)
            return false;
        ++i;
    }
    if (i == 0)
        return false;
    String unit = t.substr(i);
    if (unit == "s")
        v *= 1000;
    else if (unit != "ms" && !unit.empty())
        return false;
    *ms = v;
    return true;
}

bool ParseInt(const String &t, int64_t *v)
{
    if (t.empty() || t.size() > 18)
        return false;
    size_t i = t[0] == '-' ? 1 : 0;
    if (i == t.size())
        return false;
    int64_t r = 0;
    for (; i < t.size(); ++i) {
        if (!isdigit(static_cast<unsigned char>(t[i])))
            return false;
        r = r * 10 + (t[i] - '0');
    }
    *v = t[0] == '-' ? -r : r;
    return true;
}

}  // namespace

// The interpreter's state between lines.
struct ScriptState {
    StringVector context;  // entered command paths, innermost last
    struct Pending {
        Command::Base *command = nullptr;
        Command::Request request;
        Xml::Node node;
        Command::Response response{nullptr};
    };
    std::unique_ptr<Pending> pending;
};

namespace {
ScriptState &StateOf(Host::Impl &core)
{
    if (!core.script)
        core.script = std::make_shared<ScriptState>();
    return *core.script;
}

void PrintResult(std::ostream &out, Command::Base *cmd, ReturnT r)
{
    const Status &s = Status::Current();
    out << "[" << Hex(static_cast<uint32_t>(r)) << "]";
    if (s.Code() == r && !s.Message().empty())
        out << " " << s.Message();
    if (Failed(r) && cmd)
        if (const char *arg = cmd->Blames(r))
            out << " (argument \"" << arg << "\")";
    out << "\n";
}

void PrintNode(std::ostream &out, const Xml::Node &n)
{
    if (!n.Children().empty())
        out << n.Render();
}

// Renders one configuration entry as the command line that makes it.
String RenderEntry(Command::Base *c, const Command::Config::Entry &e)
{
    Command::Argument::Parser p;
    c->DoArgumentParser(p, false);
    String line = c->Keyword();
    for (const auto &a : p.Arguments()) {
        for (const auto &kv : e) {
            if (kv.first != a->Name())
                continue;
            if (a->IsKeyword())
                line += " " + a->Name();
            else if (a->Introduced())
                line += " " + a->Name() + " " + QuoteWord(kv.second);
            else
                line += " " + QuoteWord(kv.second);
        }
    }
    return line;
}

bool ByOrder(Command::Base *a, Command::Base *b)
{
    if (a->Parent() != b->Parent())
        return a->Parent() < b->Parent();
    return a->Number() < b->Number();
}
}  // namespace

static void ShowConfig(Host::Impl &core, std::ostream &out)
{
    std::vector<Command::Base *> all = core.commands->All();
    std::sort(all.begin(), all.end(), [](Command::Base *a, Command::Base *b) {
        // Contexts in their own ordering, then their members.
        String ka = a->Parent().empty() ? a->Keyword() : a->Parent();
        String kb = b->Parent().empty() ? b->Keyword() : b->Parent();
        if (ka != kb)
            return ka < kb;
        if (a->Parent().empty() != b->Parent().empty())
            return a->Parent().empty();
        return ByOrder(a, b);
    });
    String open_context;
    for (Command::Base *c : all) {
        if (!c->IsSetting())
            continue;
        Command::Config cfg;
        c->DoGetConfig(cfg);
        Command::Base *parent = c->Parent().empty() ? nullptr : core.commands->Find(c->Parent());
        const bool in_context = parent && !parent->Prompt().empty();
        for (const auto &e : cfg.Entries()) {
            if (in_context) {
                if (open_context != c->Parent()) {
                    out << c->Parent() << "\n";
                    open_context = c->Parent();
                }
                out << "    " << RenderEntry(c, e) << "\n";
            } else {
                open_context.clear();
                out << (c->Parent().empty() ? String() : c->Parent() + " ") << RenderEntry(c, e) << "\n";
            }
        }
    }
}

// Calls Continue until the command stops asking (or Terminate).
static void Finish(ScriptState &st, std::ostream &out, bool terminate, int max_rounds)
{
    auto &p = st.pending;
    if (!p)
        return;
    for (int round = 0; p && (terminate || round < max_rounds); ++round) {
        p->node.Clear();
        p->response.ClearContinue();
        ReturnT r = terminate ? p->command->DoTerminate(p->request, p->response)
                              : p->command->DoContinue(p->request, p->response);
        PrintNode(out, p->node);
        if (terminate || !p->response.Continuing()) {
            out << (terminate ? "interrupted " : "finished ");
            PrintResult(out, p->command, r);
            p.reset();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

static bool RunCommand(Host::Impl &core, ScriptState &st, StringVector words, std::ostream &out)
{
    bool no = false;
    if (!words.empty() && words[0] == "no") {
        no = true;
        words.erase(words.begin());
    }
    if (words.empty())
        return false;
    // The longest path that names a command, inside the current contexts first.
    Command::Base *cmd = nullptr;
    size_t used = 0;
    std::vector<String> bases;
    for (auto it = st.context.rbegin(); it != st.context.rend(); ++it)
        bases.push_back(*it + " ");
    bases.push_back(String());
    for (const String &base : bases) {
        String path = base;
        for (size_t k = 0; k < words.size(); ++k) {
            path += (k ? " " : "") + words[k];
            if (Command::Base *c = core.commands->Find(path))
                cmd = c, used = k + 1;
        }
        if (cmd)
            break;
    }
    if (!cmd) {
        out << "% unknown command: " << words[0] << "\n";
        return false;
    }
    StringVector args(words.begin() + static_cast<std::ptrdiff_t>(used), words.end());
    // A context with nothing after it is entered.
    if (!cmd->Prompt().empty() && args.empty() && !no) {
        st.context.push_back(cmd->Path());
        out << cmd->Prompt() << "\n";
        return true;
    }
    Command::Argument::Parser parser;
    Command::Request req;
    req.SetNo(no);
    String why;
    if (!cmd->DoArgumentParser(parser, no) || !parser.Parse(args, req, &why)) {
        out << "% " << cmd->Path() << ": " << (why.empty() ? "bad arguments" : why) << "\n";
        return false;
    }
    if (!cmd->DoProbe(req)) {
        out << "% " << cmd->Path() << ": not available now\n";
        return false;
    }
    auto p = std::unique_ptr<ScriptState::Pending>(new ScriptState::Pending);
    p->command = cmd;
    p->request = req;
    p->response = Command::Response(&p->node);
    Status::Current().Reset();
    ReturnT r = cmd->DoExecute(p->request, p->response);
    PrintNode(out, p->node);
    PrintResult(out, cmd, r);
    if (p->response.Continuing())
        st.pending = std::move(p);
    return true;
}

static bool EventLine(Host::Impl &core, const StringVector &w, std::ostream &out)
{
    if (w.size() < 2)
        return false;
    const String &kind = w[1];
    const String verb = w.size() > 2 ? w[2] : String();
    auto kv = KeyValues(w, 2);
    auto raise = [&](std::shared_ptr<Event::Base> e) { return !Failed(core.Raise(std::move(e), {})); };
    if (kind == "fs") {
        FileSystem::Info fs;
        fs.name = Get(kv, "name");
        if (!fs.name.empty() && fs.name.back() != ':')
            fs.name += ':';
        auto e = std::make_shared<Event::Fs>();
        if (verb == "add") {
            fs.label = Get(kv, "label");
            fs.usb = Get(kv, "usb", "1") == "1";
            int64_t t = 0;
            ParseInt(Get(kv, "type", "0"), &t);
            fs.type = static_cast<int>(t);
            fs.directory = Get(kv, "dir");
            core.builtins->fs.Mount(fs);
            e->action = 0;
        } else if (verb == "prepare" || verb == "remove") {
            FileSystem::Info was;
            std::vector<FileSystem::Info> all;
            core.builtins->fs.GetMounted(all);
            bool found = false;
            for (auto &m : all)
                if (m.name == fs.name)
                    fs = m, found = true;
            if (!found) {
                out << "% no file system " << fs.name << "\n";
                return false;
            }
            e->action = verb == "prepare" ? 2 : 1;
            if (verb == "remove")
                core.builtins->fs.Unmount(fs.name, &was);
        } else {
            return false;
        }
        e->name = fs.name, e->label = fs.label, e->usb = fs.usb, e->type = fs.type;
        return raise(e);
    }
    if (kind == "user") {
        auto e = std::make_shared<Event::User>();
        e->action = verb == "add" ? 0 : verb == "change" ? 1 : verb == "remove" ? 2 : -1;
        if (e->action < 0)
            return false;
        e->name = Get(kv, "name");
        String tags = Get(kv, "tags");
        for (size_t pos = 0; pos < tags.size();) {
            size_t comma = tags.find(',', pos);
            if (comma == String::npos)
                comma = tags.size();
            if (comma > pos)
                e->tags.push_back(tags.substr(pos, comma - pos));
            pos = comma + 1;
        }
        if (kv.count("nt"))
            e->passwords["nt"] = Get(kv, "nt");
        if (e->action == 2) {
            core.builtins->auth.RemoveUser(e->name);
        } else {
            AuthenticatorImpl::UserRecord rec;
            rec.tags = e->tags;
            rec.passwords = e->passwords;
            core.builtins->auth.SetUser(e->name, rec);
        }
        return raise(e);
    }
    if (kind == "host" || kind == "domain") {
        if (kind == "host") {
            auto e = std::make_shared<Event::Host>();
            e->name = Get(kv, "name");
            return raise(e);
        }
        auto e = std::make_shared<Event::Domain>();
        e->name = Get(kv, "name");
        return raise(e);
    }
    if (kind == "wan") {
        auto e = std::make_shared<Event::Wan>();
        e->id = Get(kv, "id");
        return raise(e);
    }
    if (kind == "ready")
        return raise(std::make_shared<Event::SystemReady>());
    if (kind == "shutdown")
        return raise(std::make_shared<Event::SystemShutdown>());
    if (kind == "knownhost") {
        auto e = std::make_shared<Event::KnownHost>();
        if (verb == "clear") {
            core.builtins->known_hosts.Clear();
            e->action = 2;
            return raise(e);
        }
        if (!e->mac.Parse(Get(kv, "mac")))
            return false;
        if (verb == "add") {
            core.builtins->known_hosts.Add(e->mac);
            e->action = 0;
        } else if (verb == "remove") {
            core.builtins->known_hosts.Remove(e->mac);
            e->action = 1;
        } else {
            return false;
        }
        return raise(e);
    }
    if (kind == "neighbour") {
        auto e = std::make_shared<Event::Neighbour>();
        if (!e->mac.Parse(Get(kv, "mac")) || !e->address.Parse(Get(kv, "ip")))
            return false;
        int64_t a = 0, k = 0, t = 0;
        ParseInt(Get(kv, "action", "0"), &a);
        ParseInt(Get(kv, "kind", "0"), &k);
        ParseInt(Get(kv, "type", "0"), &t);
        e->action = static_cast<int>(a), e->update_kind = static_cast<int>(k),
        e->address_type = static_cast<int>(t);
        core.builtins->neighbours.Set(e->mac, e->address);
        return raise(e);
    }
    if (kind == "usb") {
        auto e = std::make_shared<Event::Device>();
        e->action = verb == "add" ? 0 : verb == "remove" ? 1 : -1;
        if (e->action < 0)
            return false;
        e->subsystem = Get(kv, "subsystem", "usb_device");
        for (const auto &p : kv)
            if (p.first != "subsystem")
                e->values[p.first] = p.second;
        raise(e);
        // Creators are offered the device after the event, on the event thread.
        auto *repo = &core.builtins->interfaces;
        core.Post([repo, e] { repo->OfferDevice(*e); });
        core.Drain(5000);
        return true;
    }
    if (kind == "printer") {
        Printer::Id id;
        unsigned v = 0, p = 0;
        if (std::sscanf(Get(kv, "id").c_str(), "%4x:%4x", &v, &p) != 2)
            return false;
        id.vendor = static_cast<uint16_t>(v), id.product = static_cast<uint16_t>(p);
        if (verb == "remove") {
            core.builtins->printers.Deactivate(id);
            return true;
        }
        int64_t debug = 0;
        ParseInt(Get(kv, "debug", "0"), &debug);
        bool ok = core.builtins->printers.Activate(id, Get(kv, "share"), Get(kv, "dev"), Get(kv, "status"),
                                                   static_cast<uint32_t>(debug));
        out << "printer " << id.ToString() << (ok ? " taken" : " not taken") << "\n";
        return true;
    }
    return false;
}

static bool InterfaceLine(Host::Impl &core, const StringVector &w, std::ostream &out)
{
    if (w.size() < 3)
        return false;
    const String &verb = w[1];
    auto kv = KeyValues(w, 2);
    auto &repo = core.builtins->interfaces;
    if (verb == "add" || verb == "ip" || verb == "level") {
        Network::Interface::IpInfo info;
        String id = Get(kv, "id");
        if (id.empty())
            return false;
        bool existed = repo.FindIp(id, info);
        info.id = id;
        if (kv.count("name"))
            info.system_name = Get(kv, "name");
        if (kv.count("ip") && !info.block.Parse(Get(kv, "ip")))
            return false;
        if (kv.count("level")) {
            int64_t l;
            if (!ParseInt(Get(kv, "level"), &l))
                return false;
            info.level = static_cast<uint32_t>(l);
        }
        repo.SetIp(info);
        if (verb == "add" && !existed) {
            auto e = std::make_shared<Event::IfCreated>();
            e->id = id, e->system_name = info.system_name;
            core.Raise(e, {});
        } else if (verb == "ip") {
            auto e = std::make_shared<Event::IfIpChanged>();
            e->id = id, e->block = info.block;
            core.Raise(e, {});
        } else if (verb == "level") {
            auto e = std::make_shared<Event::IfPrivateChanged>();
            e->id = id, e->level = info.level;
            core.Raise(e, {});
        }
        return true;
    }
    if (verb == "del") {
        String id = Get(kv, "id", w[2]);
        if (!repo.RemoveIp(id))
            return false;
        auto e = std::make_shared<Event::IfDestroyed>();
        e->id = id;
        core.Raise(e, {});
        return true;
    }
    if (verb == "state") {
        Network::Interface::IpInfo info;
        String id = Get(kv, "id");
        repo.FindIp(id, info);
        int64_t change = 0;
        ParseInt(Get(kv, "change", "0"), &change);
        core.Raise(
            std::make_shared<Event::IfStateChanged>(static_cast<int>(change), id, info.system_name, 1, 1, 1),
            {});
        return true;
    }
    // show, up, down and ssid act on interface objects.
    Network::Interface::Base *b = repo.Find(w[2]);
    if (!b) {
        out << "% no interface " << w[2] << "\n";
        return false;
    }
    ReturnT r;
    if (verb == "show") {
        Xml::Node node("interface");
        bool ok = b->AttachTo(node);
        out << node.Render();
        if (!ok)
            out << "% the reply is not complete\n";
        return true;
    } else if (verb == "up" || verb == "down") {
        r = b->SetIfUp(verb == "up" ? 1 : 0);
    } else if (verb == "ssid" && w.size() > 3) {
        auto *wl = dynamic_cast<Network::Interface::Wireless *>(b);
        if (!wl) {
            out << "% " << w[2] << " has no SSID\n";
            return false;
        }
        r = wl->SetSsid(Network::Interface::Ssid(w[3]));
    } else {
        return false;
    }
    PrintResult(out, nullptr, r);
    return true;
}

bool Host::RunLine(const String &line, std::ostream &out)
{
    Impl &core = *impl_;
    ScriptState &st = StateOf(core);
    StringVector w;
    if (!Tokenize(line, &w)) {
        out << "% unbalanced quotes\n";
        return false;
    }
    if (w.empty() || w[0][0] == '#')
        return true;
    // A command that asks to go on runs to its end first, unless interrupted.
    if (st.pending && w[0] != "interrupt" && w[0] != "continue")
        Finish(st, out, false, 100000);
    const String &c = w[0];
    if (c == "interrupt") {
        if (!st.pending) {
            out << "% nothing to interrupt\n";
            return false;
        }
        Finish(st, out, true, 1);
        return true;
    }
    if (c == "continue") {
        int64_t n = 1;
        if (w.size() > 1 && !ParseInt(w[1], &n))
            return false;
        if (!st.pending) {
            out << "% nothing to continue\n";
            return false;
        }
        Finish(st, out, false, static_cast<int>(n));
        return true;
    }
    if (c == "exit") {
        if (!st.context.empty())
            st.context.pop_back();
        return true;
    }
    if (c == "end") {
        st.context.clear();
        return true;
    }
    if (c == "event") {
        bool ok = EventLine(core, w, out);
        if (!ok)
            out << "% bad event line: " << line << "\n";
        core.Drain(5000);
        return ok;
    }
    if (c == "interface") {
        bool ok = InterfaceLine(core, w, out);
        if (!ok)
            out << "% bad interface line: " << line << "\n";
        core.Drain(5000);
        return ok;
    }
    if (c == "clock") {
        int64_t ms;
        if (w.size() != 2 || w[1].empty() || w[1][0] != '+' || !ParseSpan(w[1].substr(1), &ms))
            return false;
        if (!core.options.manual_clock) {
            out << "% the clock is real (start with --manual-clock)\n";
            return false;
        }
        Advance(ms);
        return true;
    }
    if (c == "sleep") {
        int64_t ms;
        if (w.size() != 2 || !ParseSpan(w[1], &ms))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        core.Drain(5000);
        return true;
    }
    if (c == "wait") {
        // wait service ID up|down SPAN; wait journal PREFIX SPAN (real time)
        int64_t ms;
        if (w.size() == 5 && w[1] == "service" && ParseSpan(w[4], &ms)) {
            const int want = w[3] == "up" ? 1 : 0;
            const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (core.children->ServiceState(w[2]) != want) {
                if (std::chrono::steady_clock::now() > limit) {
                    out << "% service " << w[2] << " not " << w[3] << " after " << w[4] << "\n";
                    return false;
                }
                Impl::Nap();
            }
            core.Drain(5000);
            out << "service " << w[2] << " " << w[3] << "\n";
            return true;
        }
        if (w.size() == 4 && w[1] == "journal" && ParseSpan(w[3], &ms)) {
            if (!WaitJournal(w[2], static_cast<uint32_t>(ms))) {
                out << "% no \"" << w[2] << "\" in the journal after " << w[3] << "\n";
                return false;
            }
            core.Drain(5000);
            return true;
        }
        out << "% wait service ID up|down SPAN, or wait journal PREFIX SPAN\n";
        return false;
    }
    if (c == "journal") {
        if (w.size() == 2 && w[1] == "clear") {
            ClearJournal();
            return true;
        }
        for (const String &l : JournalMatching(w.size() > 1 ? w[1] : String()))
            out << l << "\n";
        return true;
    }
    if (c == "fail" && w.size() >= 2) {
        // fail OP [COUNT [AFTER]]
        int64_t n = 1, after = 0;
        if (w.size() > 2 && !ParseInt(w[2], &n))
            return false;
        if (w.size() > 3 && !ParseInt(w[3], &after))
            return false;
        InjectFailure(w[1], static_cast<int>(n), static_cast<int>(after));
        return true;
    }
    if (c == "dashboard") {
        for (const auto &k : core.builtins->dashboard.All())
            out << k.first << "=" << k.second << "\n";
        return true;
    }
    if (c == "netfilter" && w.size() == 2) {
        out << core.builtins->netfilter.Save(w[1] == "nat" ? Netfilter::Table::NAT
                                                           : Netfilter::Table::FILTER);
        return true;
    }
    if (c == "ports") {
        for (int proto : {6, 17})
            for (unsigned port = 1; port < 65536; ++port) {
                String o = core.builtins->ports.OwnerOf(static_cast<Network::PortAllocator::ProtocolT>(proto),
                                                        static_cast<uint16_t>(port));
                if (!o.empty())
                    out << (proto == 6 ? "tcp " : "udp ") << port << " " << o << "\n";
            }
        return true;
    }
    if (c == "services") {
        for (const String &id : core.children->ServiceIds())
            out << id << (core.children->ServiceState(id) == 1 ? " up" : " down") << "\n";
        return true;
    }
    if (c == "resolve" && (w.size() == 3 || w.size() == 4)) {
        // resolve NAME SERVER [PORT]: the resolver as the plug-ins call it
        Network::IpAddress server;
        int64_t port = 53;
        if (!server.Parse(w[2]) || (w.size() == 4 && (!ParseInt(w[3], &port) || port < 1 || port > 65535)))
            return false;
        std::vector<Network::IpAddress> addrs;
        ReturnT r =
            Dns::Resolver::GetAddresses(w[1], addrs, 1000, Log::VERBOSE, server, static_cast<uint16_t>(port));
        out << "[" << Hex(static_cast<uint32_t>(r)) << "]";
        for (const auto &a : addrs)
            out << " " << a.ToString();
        out << "\n";
        return true;
    }
    if (c == "seed" && w.size() == 2) {
        int64_t s;
        if (!ParseInt(w[1], &s))
            return false;
        core.builtins->random.Seed(static_cast<uint32_t>(s));
        return true;
    }
    if (c == "wan-mac" && w.size() == 2) {
        Network::MacAddress m;
        if (!m.Parse(w[1]))
            return false;
        core.builtins->sysconfig.SetWanMac(m);
        return true;
    }
    if (c == "show" && w.size() == 2 && (w[1] == "running-config" || w[1] == "config")) {
        ShowConfig(core, out);
        return true;
    }
    bool ok = RunCommand(core, st, w, out);
    core.Drain(5000);
    return ok;
}

int Host::RunScript(std::istream &in, std::ostream &out)
{
    int failed = 0;
    String line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line == "quit")
            break;
        // A command still going runs to its end before the next line shows.
        {
            StringVector w;
            ScriptState &st = StateOf(*impl_);
            if (st.pending && Tokenize(line, &w) && !w.empty() && w[0] != "interrupt" && w[0] != "continue")
                Finish(st, out, false, 100000);
        }
        out << "> " << line << "\n";
        if (!RunLine(line, out))
            ++failed;
        out.flush();
    }
    // Whatever still goes on runs to its end.
    ScriptState &st = StateOf(*impl_);
    if (st.pending)
        Finish(st, out, false, 100000);
    st.context.clear();
    return failed;
}

}  // namespace Core
