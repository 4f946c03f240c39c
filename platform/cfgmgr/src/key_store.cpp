#include "key_store.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace cfgmgr {

bool valid_key(const std::string &key)
{
    if (key.empty())
        return false;
    for (char c : key) {
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

bool valid_value(const std::string &value)
{
    return value.find_first_of("\r\n") == std::string::npos && value.find('\0') == std::string::npos;
}

bool KeyStore::load(std::string &error)
{
    values_.clear();
    std::ifstream in(path_);
    if (!in) {
        if (errno == ENOENT)
            return true;
        error = path_ + ": " + std::strerror(errno);
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos || !valid_key(line.substr(0, eq)))
            continue;  // not ours; a damaged line must not stop the rest
        values_[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return true;
}

bool KeyStore::save(std::string &error) const
{
    std::string temp = path_ + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto &kv : values_)
            out << kv.first << '=' << kv.second << '\n';
        out.flush();
        if (!out) {
            error = temp + ": write failed";
            unlink(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), path_.c_str()) != 0) {
        error = path_ + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> KeyStore::get(const std::string &key) const
{
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

namespace {

std::vector<std::string> split(const std::string &text, char sep)
{
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, sep))
        parts.push_back(part);
    if (!text.empty() && text.back() == sep)
        parts.emplace_back();
    return parts;
}

const char kUsage[] = "Usage: cfgmgr -r KEY[,KEY...] | -w KEY=VALUE | -d KEY\n";

}  // namespace

int run(const std::vector<std::string> &args, KeyStore &store, std::string &out, std::string &err)
{
    if (args.size() != 2) {
        err += kUsage;
        return 2;
    }
    const std::string &option = args[0];
    const std::string &operand = args[1];
    if (option == "-r") {
        std::vector<std::string> keys = split(operand, ',');
        if (keys.empty()) {
            err += kUsage;
            return 2;
        }
        for (const auto &key : keys) {
            if (!valid_key(key)) {
                err += "cfgmgr: bad key \"" + key + "\"\n";
                return 2;
            }
        }
        if (keys.size() == 1) {
            auto value = store.get(keys[0]);
            if (!value)
                return 1;
            out += *value + "\n";
            return 0;
        }
        for (const auto &key : keys)
            out += store.get(key).value_or("") + "\n";
        return 0;
    }
    if (option == "-w") {
        auto eq = operand.find('=');
        if (eq == std::string::npos) {
            err += kUsage;
            return 2;
        }
        std::string key = operand.substr(0, eq);
        std::string value = operand.substr(eq + 1);
        if (!valid_key(key) || !valid_value(value)) {
            err += "cfgmgr: bad key or value for \"" + key + "\"\n";
            return 2;
        }
        store.set(key, value);
        return 0;
    }
    if (option == "-d") {
        if (!valid_key(operand)) {
            err += "cfgmgr: bad key \"" + operand + "\"\n";
            return 2;
        }
        store.remove(operand);
        return 0;
    }
    err += kUsage;
    return 2;
}

std::string quote_arguments(const std::vector<std::string> &args)
{
    std::string line;
    for (const auto &arg : args) {
        if (!line.empty())
            line += ' ';
        line += '"';
        for (unsigned char c : arg) {
            if (c == '"' || c == '\\') {
                line += '\\';
                line += static_cast<char>(c);
            } else if (c < 0x20 || c == 0x7f) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", c);
                line += hex;
            } else {
                line += static_cast<char>(c);
            }
        }
        line += '"';
    }
    return line;
}

}  // namespace cfgmgr
