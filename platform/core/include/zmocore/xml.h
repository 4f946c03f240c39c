// Reply documents: a tree of elements with text, some marked as array items.
#ifndef ZMOCORE_XML_H
#define ZMOCORE_XML_H

#include "zmocore/base.h"

#include <list>

namespace Xml {

class ZMOCORE_API Node {
public:
    explicit Node(const String &name = "response") : name_(name) {}
    // A child element; null (and the document marked invalid) when it can't be made.
    Node *AddChild(const String &name);
    // An array item: several children of one name.
    Node *AddArrayItem(const String &name);
    Node *Add(const String &name, const String &value);
    Node *Add(const String &name, const char *value) { return Add(name, String(value ? value : "")); }
    Node *Add(const String &name, int64_t value);
    Node *Add(const String &name, int value) { return Add(name, static_cast<int64_t>(value)); }
    Node *Add(const String &name, unsigned value) { return Add(name, static_cast<int64_t>(value)); }
    Node *Add(const String &name, bool value);
    void SetValue(const String &v) { value_ = v; }
    const String &Name() const { return name_; }
    const String &Value() const { return value_; }
    bool IsArrayItem() const { return array_; }
    // The document is valid while nothing failed to be added.
    bool Valid() const;
    void Invalidate() { valid_ = false; }
    const Node *Find(const String &name) const;
    const std::list<Node> &Children() const { return children_; }
    bool Empty() const { return children_.empty() && value_.empty(); }
    void Clear();
    // Indented XML text of this element and below.
    String Render(int indent = 0) const;

private:
    String name_;
    String value_;
    bool array_ = false;
    bool valid_ = true;
    std::list<Node> children_;
};

}  // namespace Xml

#endif
