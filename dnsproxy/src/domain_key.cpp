// Trie keys from domain names.
#include "domain_trie.h"

namespace dnsr {

bool domain_key(std::string_view name, std::string &key)
{
    if (!name.empty() && name.back() == '.') {
        size_t slashes = 0;
        while (slashes + 1 < name.size() && name[name.size() - 2 - slashes] == '\\')
            slashes++;
        if (slashes % 2 == 0)
            name.remove_suffix(1);
    }
    std::string text;
    text.reserve(name.size());
    for (size_t i = 0; i < name.size(); i++) {
        char c = name[i];
        if (c == '\\' && i + 1 < name.size()) {
            char e = name[++i];
            if (e == '.')
                text += "\\046";
            else {
                text += c;
                text += e;
            }
            continue;
        }
        text += (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
    }
    if (text.size() > 254)
        return false;
    key.assign(1, '.');
    key.append(text.rbegin(), text.rend());
    return true;
}

}  // namespace dnsr
