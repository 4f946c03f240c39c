// What a feedback forwarder hands to the core: its words and the KEY=value
// lines of its input, in one bounded message.
#include "core_impl.h"

#include <cctype>
#include <cstring>

namespace Core {

namespace {
constexpr char kMark[4] = {'Z', 'F', 'B', '1'};
constexpr size_t kMaxItems = 1024;
constexpr size_t kMaxMessage = 64 * 1024;

void PutU32(String *o, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        o->push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void PutText(String *o, const String &s)
{
    PutU32(o, static_cast<uint32_t>(s.size()));
    o->append(s);
}

struct Reader {
    const uint8_t *d;
    size_t size, pos = 0;
    bool U32(uint32_t *v)
    {
        if (size - pos < 4)
            return false;
        *v = static_cast<uint32_t>(d[pos]) << 24 | static_cast<uint32_t>(d[pos + 1]) << 16 |
             static_cast<uint32_t>(d[pos + 2]) << 8 | d[pos + 3];
        pos += 4;
        return true;
    }
    bool Text(String *s)
    {
        uint32_t n;
        if (!U32(&n) || n > size - pos)
            return false;
        s->assign(reinterpret_cast<const char *>(d + pos), n);
        pos += n;
        return true;
    }
};

// A control byte would let a field start a line of its own downstream.
String Clean(String s)
{
    for (char &c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f)
            c = '_';
    }
    return s;
}

bool ValidKey(const String &k)
{
    if (k.empty() || k.size() > 64 || std::isdigit(static_cast<unsigned char>(k[0])))
        return false;
    for (char c : k)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}
}  // namespace

String FeedbackEncode(const String &path, const StringVector &words,
                      const std::vector<std::pair<String, String>> &values)
{
    String o(kMark, 4);
    PutText(&o, path);
    PutU32(&o, static_cast<uint32_t>(words.size()));
    PutU32(&o, static_cast<uint32_t>(values.size()));
    for (const String &w : words)
        PutText(&o, w);
    for (const auto &v : values) {
        PutText(&o, v.first);
        PutText(&o, v.second);
    }
    return o;
}

bool FeedbackDecode(const uint8_t *data, size_t size, String *path, Feedback *out)
{
    if (size < 4 || size > kMaxMessage || std::memcmp(data, kMark, 4) != 0)
        return false;
    Reader r{data, size, 4};
    uint32_t nw, nv;
    if (!r.Text(path) || !r.U32(&nw) || !r.U32(&nv) || nw > kMaxItems || nv > kMaxItems)
        return false;
    StringVector &words = out->MutableWords();
    auto &values = out->MutableValues();
    words.clear();
    values.clear();
    for (uint32_t i = 0; i < nw; ++i) {
        String w;
        if (!r.Text(&w))
            return false;
        words.push_back(Clean(w));
    }
    for (uint32_t i = 0; i < nv; ++i) {
        String k, v;
        if (!r.Text(&k) || !r.Text(&v))
            return false;
        // The core checks again: a message may come from anyone who can reach the socket.
        if (!ValidKey(k))
            continue;
        values.emplace_back(k, Clean(v));
    }
    return r.pos == size;
}

void FeedbackFromRun(const StringVector &args, const String &input, StringVector *words,
                     std::vector<std::pair<String, String>> *values)
{
    words->clear();
    values->clear();
    for (const String &a : args)
        words->push_back(Clean(a));
    size_t pos = 0;
    while (pos < input.size()) {
        size_t eol = input.find('\n', pos);
        if (eol == String::npos)
            eol = input.size();
        String line = input.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t eq = line.find('=');
        if (eq == String::npos)
            continue;
        String key = line.substr(0, eq);
        if (!ValidKey(key))
            continue;
        values->emplace_back(key, Clean(line.substr(eq + 1)));
    }
}

}  // namespace Core

String Feedback::Get(const String &key) const
{
    for (const auto &v : values_)
        if (v.first == key)
            return v.second;
    return String();
}

bool Feedback::Has(const String &key) const
{
    for (const auto &v : values_)
        if (v.first == key)
            return true;
    return false;
}
