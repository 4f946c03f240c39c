// The command tree: settings (kept in the configuration) and actions.
#ifndef ZMOCORE_COMMAND_H
#define ZMOCORE_COMMAND_H

#include "zmocore/base.h"
#include "zmocore/network.h"
#include "zmocore/xml.h"

namespace FileSystem {
class Repository;
}

namespace Command {

// {code, argument that it blames}; a zero row ends the table.
struct ErrorCodeEntry {
    uint32_t code;
    const char *argument;
};

// The parsed arguments of one execution.
class ZMOCORE_API Request {
public:
    bool Has(const String &name) const;
    // The value of a named argument ("" when absent; "1" for a keyword given).
    String Get(const String &name) const;
    bool No() const { return no_; }
    void SetNo(bool no) { no_ = no; }
    void Set(const String &name, const String &value);
    void Clear() { values_.clear(); }

private:
    bool no_ = false;
    std::vector<std::pair<String, String>> values_;
};

class ZMOCORE_API Response {
public:
    Response() = default;
    explicit Response(Xml::Node *node) : node_(node) {}
    // The reply document, or null when the caller wants none.
    Xml::Node *Node() { return node_; }
    // Asks the core to call Continue until the command stops asking.
    void Continue() { continue_ = true; }
    bool Continuing() const { return continue_; }
    void ClearContinue() { continue_ = false; }

private:
    Xml::Node *node_ = nullptr;
    bool continue_ = false;
};

// Configuration output: each entry is a list of key/value pairs rendered as
// one line of the command that made it.
class ZMOCORE_API Config {
public:
    void Set(const String &key, const String &value);
    void Set(const String &key, const char *value) { Set(key, String(value ? value : "")); }
    void Set(const String &key, int64_t value);
    void Set(const String &key, int value) { Set(key, static_cast<int64_t>(value)); }
    void Set(const String &key, bool value) { Set(key, static_cast<int64_t>(value ? 1 : 0)); }
    // Ends the current entry.
    void End();
    typedef std::vector<std::pair<String, String>> Entry;
    const std::vector<Entry> &Entries() const { return entries_; }
    void Clear() { entries_.clear(), current_.clear(); }

private:
    std::vector<Entry> entries_;
    Entry current_;
};

namespace Argument {

// Fills a list of allowed values when the command line is parsed.
class ZMOCORE_API ListMaker {
public:
    virtual ~ListMaker() = default;
    virtual bool Produce(StringVector &out) = 0;
};

class Parser;

// One argument of a command's syntax. An introduced argument is written as
// its name and then its value ("host 00:11:22:33:44:55"); a keyword is the
// name alone; any other is a value in its position.
class ZMOCORE_API Base {
public:
    enum { OPTIONAL = 1, INTRODUCED = 2 };
    Base(const String &name, unsigned flags) : name_(name), flags_(flags) {}
    virtual ~Base() = default;
    const String &Name() const { return name_; }
    bool Optional() const { return flags_ & OPTIONAL; }
    bool Introduced() const { return flags_ & INTRODUCED; }
    virtual bool IsKeyword() const { return false; }
    // Checks (and may normalise) a value; false with a reason when refused.
    virtual bool Accept(String &value, String *why);
    // Values offered for completion.
    virtual StringVector Offer() { return {}; }

private:
    String name_;
    unsigned flags_;
};

class ZMOCORE_API Text : public Base {
public:
    explicit Text(const String &name, unsigned flags = 0) : Base(name, flags) {}
};

class ZMOCORE_API Keyword : public Base {
public:
    explicit Keyword(const String &name, unsigned flags = OPTIONAL) : Base(name, flags) {}
    bool IsKeyword() const override { return true; }
};

// Behaviour 0: the value must be one of the list (letter case ignored);
// 1: the list only offers values.
class ZMOCORE_API List : public Base {
public:
    List(const String &name, ListMaker *maker, int behaviour, unsigned flags = 0,
         const String &def = String())
        : Base(name, flags), maker_(maker), behaviour_(behaviour), default_(def)
    {
    }
    bool Accept(String &value, String *why) override;
    StringVector Offer() override;
    const String &Default() const { return default_; }

private:
    ListMaker *maker_;
    int behaviour_;
    String default_;
};

// A file name of the file-system repository ("USB0:/dir/file" or with the
// label); with any_text other text is taken as it is.
class ZMOCORE_API Filename : public Base {
public:
    Filename(const String &name, FileSystem::Repository *repo, int kind, bool any_text, unsigned flags = 0)
        : Base(name, flags), repo_(repo), kind_(kind), any_text_(any_text)
    {
    }
    bool Accept(String &value, String *why) override;
    StringVector Offer() override;
    int Kind() const { return kind_; }

private:
    FileSystem::Repository *repo_;
    int kind_;
    bool any_text_;
};

// A MAC address, parsed into the slot of the parsing thread.
class ZMOCORE_API MacAddress : public Base {
public:
    MacAddress(const String &name, ThreadSpecific<Network::MacAddress> *slot, unsigned flags = 0)
        : Base(name, flags), slot_(slot)
    {
    }
    bool Accept(String &value, String *why) override;

private:
    ThreadSpecific<Network::MacAddress> *slot_;
};

// An unsigned decimal number within [min, max].
class ZMOCORE_API Number : public Base {
public:
    Number(const String &name, uint32_t min, uint32_t max, unsigned flags = 0)
        : Base(name, flags), min_(min), max_(max)
    {
    }
    bool Accept(String &value, String *why) override;

private:
    uint32_t min_, max_;
};

// The syntax of one form of a command: its arguments in order.
class ZMOCORE_API Parser {
public:
    // Takes the argument; false when it can't be kept.
    bool Add(Base *argument);
    const AutoPVector<Base> &Arguments() const { return args_; }
    const Base *Find(const String &name) const;
    // Fills the request from the words; false with a reason.
    bool Parse(const StringVector &words, Request &request, String *why);
    void Clear() { args_.clear(); }

private:
    AutoPVector<Base> args_;
};

}  // namespace Argument

// What settings and actions share; the tree keeps them by path.
class ZMOCORE_API Base {
public:
    Base(const char *parent, const char *keyword, unsigned number, const char *help, unsigned flags,
         const ErrorCodeEntry *errors, const char *prompt);
    virtual ~Base();
    const String &Parent() const { return parent_; }
    const String &Keyword() const { return keyword_; }
    // Parent path and keyword: "cifs share".
    String Path() const;
    unsigned Number() const { return number_; }
    const String &Help() const { return help_; }
    unsigned Flags() const { return flags_; }
    const String &Prompt() const { return prompt_; }
    const ErrorCodeEntry *Errors() const { return errors_; }
    // The argument that a failure code blames, or null.
    const char *Blames(ReturnT code) const;
    bool IsSetting() const { return setting_; }
    // False when the framework part could not be set up ("command.init").
    bool Initialized() const { return initialized_; }
    // What the tree calls: the setting's or the action's own operation. (No
    // virtual here, so a setting's and an action's tables begin with their
    // own operations in their own order.)
    bool RegisterInTree();
    void UnregisterFromTree();
    ReturnT DoExecute(Request &req, Response &resp);
    ReturnT DoGetConfig(Config &out);
    bool DoProbe(Request &req);
    ReturnT DoContinue(Request &req, Response &resp);
    ReturnT DoTerminate(Request &req, Response &resp);
    bool DoArgumentParser(Argument::Parser &p, bool no);

protected:
    void SetKind(bool setting) { setting_ = setting; }

private:
    String parent_, keyword_, help_, prompt_;
    unsigned number_, flags_;
    const ErrorCodeEntry *errors_;
    bool in_tree_ = false;
    bool initialized_ = true;
    bool setting_ = true;
};

class ZMOCORE_API Setting : public Base {
public:
    Setting(const char *parent, const char *keyword, unsigned number, const char *help, unsigned flags,
            const ErrorCodeEntry *errors = nullptr, const char *prompt = nullptr)
        : Base(parent, keyword, number, help, flags, errors, prompt)
    {
        SetKind(true);
    }
    ~Setting() override;
    virtual bool Register();
    virtual void Unregister();
    virtual ReturnT Execute(Request &req, Response &resp);
    virtual ReturnT GetConfig(Config &out);
    virtual bool Probe(Request &req);
    virtual ReturnT Continue(Request &req, Response &resp);
    virtual ReturnT Terminate(Request &req, Response &resp);
    virtual bool GetArgumentParser(Argument::Parser &p);
    virtual bool GetArgumentParserNo(Argument::Parser &p);
    virtual const char *Name() const;
};

class ZMOCORE_API Action : public Base {
public:
    Action(const char *parent, const char *keyword, unsigned number, const char *help, unsigned flags,
           const ErrorCodeEntry *errors = nullptr, const char *prompt = nullptr)
        : Base(parent, keyword, number, help, flags, errors, prompt)
    {
        SetKind(false);
    }
    ~Action() override;
    virtual bool Register();
    virtual void Unregister();
    virtual ReturnT Execute(Request &req, Response &resp);
    virtual bool Probe(Request &req);
    virtual ReturnT Continue(Request &req, Response &resp);
    virtual ReturnT Terminate(Request &req, Response &resp);
    virtual bool GetArgumentParser(Argument::Parser &p);
    virtual bool GetArgumentParserNo(Argument::Parser &p);
    virtual ReturnT GetConfig(Config &out);
};

namespace Util {
// A progress display for a long command: what and how far.
class ZMOCORE_API Progress {
public:
    explicit Progress(const String &what) : what_(what) {}
    // Takes the latest Event::Progress for what and writes "progress" with
    // "what" and "percent" into the node.
    bool Update(Xml::Node &node);
    const String &What() const { return what_; }

private:
    String what_;
};
}  // namespace Util

}  // namespace Command

#endif
