// JSON documents in a pool, parsed and printed by nlohmann's ordered json.
#include <nlohmann/json.hpp>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "pool.h"

using ordered_json = nlohmann::ordered_json;
using Kind = zmo_json_value::Kind;

namespace {
// Deeper documents are refused rather than walked by recursion.
constexpr int kMaxDepth = 64;

struct DepthGuard {
    int depth = 0;
    bool exceeded = false;
};

zmo_json_value *import(zmo_pool_t *pool, const ordered_json &j)
{
    zmo_json_value *v = nullptr;
    switch (j.type()) {
    case ordered_json::value_t::null:
        v = pool->new_json(Kind::Null);
        break;
    case ordered_json::value_t::boolean:
        v = pool->new_json(Kind::Boolean);
        v->boolean = j.get<bool>();
        break;
    case ordered_json::value_t::number_integer:
        v = pool->new_json(Kind::Integer);
        v->integer = j.get<long long>();
        break;
    case ordered_json::value_t::number_unsigned:
        v = pool->new_json(Kind::Unsigned);
        v->unsigned_value = j.get<unsigned long long>();
        break;
    case ordered_json::value_t::number_float:
        v = pool->new_json(Kind::Float);
        v->number = j.get<double>();
        break;
    case ordered_json::value_t::string:
        v = pool->new_json(Kind::String);
        v->text = j.get_ref<const std::string &>();
        break;
    case ordered_json::value_t::object:
        v = pool->new_json(Kind::Object);
        for (const auto &item : j.items())
            v->members.emplace_back(item.key(), import(pool, item.value()));
        break;
    case ordered_json::value_t::array:
        v = pool->new_json(Kind::Array);
        for (const auto &item : j)
            v->items.push_back(import(pool, item));
        break;
    default:
        v = pool->new_json(Kind::Null);
        break;
    }
    return v;
}

ordered_json exportv(const zmo_json_value *v)
{
    switch (v->kind) {
    case Kind::Null:
        return nullptr;
    case Kind::Boolean:
        return v->boolean;
    case Kind::Integer:
        return v->integer;
    case Kind::Unsigned:
        return v->unsigned_value;
    case Kind::Float:
        return v->number;
    case Kind::String:
        return v->text;
    case Kind::Object: {
        ordered_json o = ordered_json::object();
        for (const auto &m : v->members)
            o[m.first] = exportv(m.second);
        return o;
    }
    case Kind::Array: {
        ordered_json a = ordered_json::array();
        for (const auto *item : v->items)
            a.push_back(exportv(item));
        return a;
    }
    }
    return nullptr;
}

bool as_unsigned(const zmo_json_value *v, unsigned long long max, unsigned long long *out)
{
    if (!v)
        return false;
    unsigned long long u;
    if (v->kind == Kind::Unsigned)
        u = v->unsigned_value;
    else if (v->kind == Kind::Integer && v->integer >= 0)
        u = static_cast<unsigned long long>(v->integer);
    else
        return false;
    if (u > max)
        return false;
    if (out)
        *out = u;
    return true;
}

bool is_object(const zmo_json_value *v) { return v && v->kind == Kind::Object; }

// Replaces the value of an existing member in place, else appends one.
zmo_json_value *set_member(zmo_json_value *object, const char *name, Kind kind)
{
    if (!is_object(object) || !name) {
        errno = EINVAL;
        return nullptr;
    }
    zmo_json_value *v = object->pool->new_json(kind);
    for (auto &m : object->members) {
        if (m.first == name) {
            m.second = v;
            return v;
        }
    }
    object->members.emplace_back(name, v);
    return v;
}

template <typename F> auto guarded(F f, decltype(f()) failure) -> decltype(f())
{
    try {
        return f();
    } catch (const std::bad_alloc &) {
        errno = ENOMEM;
    } catch (...) {
        errno = EINVAL;
    }
    return failure;
}
template <typename Fill> int set_scalar(zmo_json_value_t *object, const char *name, Kind kind, Fill fill)
{
    return guarded(
        [&] {
            zmo_json_value_t *v = set_member(object, name, kind);
            if (v)
                fill(v);
            return v ? 1 : 0;
        },
        0);
}
}  // namespace

extern "C" {

int zmo_json_object_parse(zmo_pool_t *pool, const char *text, zmo_json_value_t **root)
{
    if (!pool || !text || !root) {
        errno = EINVAL;
        return -1;
    }
    return guarded(
        [&]() -> int {
            DepthGuard guard;
            ordered_json::parser_callback_t cb = [&guard](int depth, ordered_json::parse_event_t event,
                                                          ordered_json &) {
                if (event == ordered_json::parse_event_t::object_start ||
                    event == ordered_json::parse_event_t::array_start) {
                    if (depth >= kMaxDepth)
                        guard.exceeded = true;
                }
                return !guard.exceeded;
            };
            ordered_json j = ordered_json::parse(text, cb, false);
            if (guard.exceeded || j.is_discarded() || !j.is_object()) {
                errno = EBADMSG;
                return -1;
            }
            *root = import(pool, j);
            return 0;
        },
        -1);
}

zmo_json_value_t *zmo_json_object_get(const zmo_json_value_t *object, const char *name)
{
    if (!is_object(object) || !name)
        return nullptr;
    for (const auto &m : object->members)
        if (m.first == name)
            return m.second;
    errno = ENOENT;
    return nullptr;
}

size_t zmo_json_object_size(const zmo_json_value_t *object)
{
    return is_object(object) ? object->members.size() : 0;
}

const char *zmo_json_object_member_name(const zmo_json_value_t *object, size_t index)
{
    if (!is_object(object) || index >= object->members.size())
        return nullptr;
    return object->members[index].first.c_str();
}

zmo_json_value_t *zmo_json_object_member_value(const zmo_json_value_t *object, size_t index)
{
    if (!is_object(object) || index >= object->members.size())
        return nullptr;
    return object->members[index].second;
}

size_t zmo_json_array_size(const zmo_json_value_t *array)
{
    return array && array->kind == Kind::Array ? array->items.size() : 0;
}

zmo_json_value_t *zmo_json_array_get(const zmo_json_value_t *array, size_t index)
{
    if (!array || array->kind != Kind::Array || index >= array->items.size())
        return nullptr;
    return array->items[index];
}

int zmo_json_value_is_null(const zmo_json_value_t *v) { return v && v->kind == Kind::Null; }
int zmo_json_value_is_boolean(const zmo_json_value_t *v) { return v && v->kind == Kind::Boolean; }
int zmo_json_value_is_uchar(const zmo_json_value_t *v) { return as_unsigned(v, UCHAR_MAX, nullptr); }
int zmo_json_value_is_ushort(const zmo_json_value_t *v) { return as_unsigned(v, USHRT_MAX, nullptr); }
int zmo_json_value_is_ullong(const zmo_json_value_t *v) { return as_unsigned(v, ULLONG_MAX, nullptr); }
int zmo_json_value_is_string(const zmo_json_value_t *v) { return v && v->kind == Kind::String; }
int zmo_json_value_is_object(const zmo_json_value_t *v) { return is_object(v); }
int zmo_json_value_is_array(const zmo_json_value_t *v) { return v && v->kind == Kind::Array; }

int zmo_json_value_get_boolean(const zmo_json_value_t *v, int *out)
{
    if (!v || v->kind != Kind::Boolean || !out)
        return 0;
    *out = v->boolean ? 1 : 0;
    return 1;
}

int zmo_json_value_get_uchar(const zmo_json_value_t *v, unsigned char *out)
{
    unsigned long long u;
    if (!out || !as_unsigned(v, UCHAR_MAX, &u))
        return 0;
    *out = static_cast<unsigned char>(u);
    return 1;
}

int zmo_json_value_get_ushort(const zmo_json_value_t *v, unsigned short *out)
{
    unsigned long long u;
    if (!out || !as_unsigned(v, USHRT_MAX, &u))
        return 0;
    *out = static_cast<unsigned short>(u);
    return 1;
}

int zmo_json_value_get_ullong(const zmo_json_value_t *v, unsigned long long *out)
{
    return out && as_unsigned(v, ULLONG_MAX, out);
}

const char *zmo_json_value_get_string(const zmo_json_value_t *v)
{
    return v && v->kind == Kind::String ? v->text.c_str() : nullptr;
}

zmo_json_value_t *zmo_json_value_get_object(const zmo_json_value_t *v)
{
    return is_object(v) ? const_cast<zmo_json_value_t *>(v) : nullptr;
}

zmo_json_value_t *zmo_json_value_get_array(const zmo_json_value_t *v)
{
    return v && v->kind == Kind::Array ? const_cast<zmo_json_value_t *>(v) : nullptr;
}

zmo_json_value_t *zmo_json_object_new(zmo_pool_t *pool)
{
    if (!pool) {
        errno = EINVAL;
        return nullptr;
    }
    return guarded([&] { return pool->new_json(Kind::Object); }, static_cast<zmo_json_value_t *>(nullptr));
}

zmo_json_value_t *zmo_json_object_set_object(zmo_json_value_t *object, const char *name)
{
    return guarded([&] { return set_member(object, name, Kind::Object); },
                   static_cast<zmo_json_value_t *>(nullptr));
}

int zmo_json_object_set_string(zmo_json_value_t *object, const char *name, const char *value)
{
    if (!value) {
        errno = EINVAL;
        return 0;
    }
    return set_scalar(object, name, Kind::String, [&](zmo_json_value_t *v) { v->text = value; });
}

int zmo_json_object_set_ullong(zmo_json_value_t *object, const char *name, unsigned long long value)
{
    return set_scalar(object, name, Kind::Unsigned, [&](zmo_json_value_t *v) { v->unsigned_value = value; });
}

int zmo_json_object_set_ushort(zmo_json_value_t *object, const char *name, unsigned short value)
{
    return zmo_json_object_set_ullong(object, name, value);
}

int zmo_json_object_set_boolean(zmo_json_value_t *object, const char *name, int value)
{
    return set_scalar(object, name, Kind::Boolean, [&](zmo_json_value_t *v) { v->boolean = value != 0; });
}

char *zmo_json_object_print(const zmo_json_value_t *object, int compact, size_t *len)
{
    if (!is_object(object)) {
        errno = EINVAL;
        return nullptr;
    }
    return guarded(
        [&]() -> char * {
            // Text that is not UTF-8 is printed with U+FFFD rather than refused.
            std::string text =
                exportv(object).dump(compact ? -1 : 2, ' ', false, ordered_json::error_handler_t::replace);
            char *out = static_cast<char *>(std::malloc(text.size() + 1));
            if (!out) {
                errno = ENOMEM;
                return nullptr;
            }
            std::memcpy(out, text.c_str(), text.size() + 1);
            if (len)
                *len = text.size();
            return out;
        },
        static_cast<char *>(nullptr));
}

}  // extern "C"
