// Reply documents.
#include "core_impl.h"

namespace Xml {

Node *Node::AddChild(const String &name)
{
    try {
        children_.emplace_back(name);
        return &children_.back();
    } catch (...) {
        valid_ = false;
        return nullptr;
    }
}

Node *Node::AddArrayItem(const String &name)
{
    Node *n = AddChild(name);
    if (n)
        n->array_ = true;
    return n;
}

Node *Node::Add(const String &name, const String &value)
{
    Node *n = AddChild(name);
    if (n) {
        try {
            n->value_ = value;
        } catch (...) {
            valid_ = false;
        }
    }
    return n;
}

Node *Node::Add(const String &name, int64_t value) { return Add(name, std::to_string(value)); }
Node *Node::Add(const String &name, bool value) { return Add(name, String(value ? "true" : "false")); }

bool Node::Valid() const
{
    if (!valid_)
        return false;
    for (const Node &c : children_)
        if (!c.Valid())
            return false;
    return true;
}

const Node *Node::Find(const String &name) const
{
    for (const Node &c : children_)
        if (c.name_ == name)
            return &c;
    return nullptr;
}

void Node::Clear()
{
    children_.clear();
    value_.clear();
    valid_ = true;
}

namespace {
String Escape(const String &s)
{
    String o;
    for (char c : s) {
        switch (c) {
        case '<':
            o += "&lt;";
            break;
        case '>':
            o += "&gt;";
            break;
        case '&':
            o += "&amp;";
            break;
        case '"':
            o += "&quot;";
            break;
        default:
            o += c;
        }
    }
    return o;
}
}  // namespace

String Node::Render(int indent) const
{
    String pad(static_cast<size_t>(indent) * 2, ' ');
    String o = pad + "<" + name_ + ">";
    if (children_.empty())
        return o + Escape(value_) + "</" + name_ + ">\n";
    o += Escape(value_) + "\n";
    for (const Node &c : children_)
        o += c.Render(indent + 1);
    return o + pad + "</" + name_ + ">\n";
}

}  // namespace Xml
