// Key store of the configuration manager stand-in: KEY=VALUE lines in one
// file, rewritten through a temporary file and a rename.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cfgmgr {

// Keys are letters, digits and '_'; values hold no line break.
bool valid_key(const std::string &key);
bool valid_value(const std::string &value);

class KeyStore {
public:
    explicit KeyStore(std::string path) : path_(std::move(path)) {}

    // A missing file is an empty store.
    bool load(std::string &error);
    bool save(std::string &error) const;

    std::optional<std::string> get(const std::string &key) const;
    void set(const std::string &key, const std::string &value) { values_[key] = value; }
    void remove(const std::string &key) { values_.erase(key); }

private:
    std::string path_;
    std::map<std::string, std::string> values_;
};

// One run of the program: "-r K[,K...]", "-w K=V" or "-d K". Output lines go
// to out, complaints to err; the result is the exit status. A single key
// that is absent prints nothing (status 1); in a list it prints an empty
// line so the lines stay in the order asked.
int run(const std::vector<std::string> &args, KeyStore &store, std::string &out, std::string &err);

// The argument vector as one log line: each argument in double quotes with
// '"', '\\' and control characters escaped.
std::string quote_arguments(const std::vector<std::string> &args);

}  // namespace cfgmgr
