// The caller's pool: owns every JSON value, XML node and text made in it.
#ifndef ZMO_POOL_H
#define ZMO_POOL_H

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "zmo.h"

struct zmo_json_value {
    enum Kind { Null, Boolean, Integer, Unsigned, Float, String, Object, Array } kind = Null;
    zmo_pool_t *pool = nullptr;
    bool boolean = false;
    long long integer = 0;
    unsigned long long unsigned_value = 0;
    double number = 0;
    std::string text;
    std::vector<std::pair<std::string, zmo_json_value *>> members;  // in insertion order
    std::vector<zmo_json_value *> items;
};

struct zmo_xml_node {
    std::string name;
    std::string value;
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<zmo_xml_node *> children;
    zmo_xml_node *parent = nullptr;
};

struct zmo_pool {
    // deque: nodes never move, so the handles given out stay valid.
    std::deque<zmo_json_value> json;
    std::deque<zmo_xml_node> xml;

    zmo_json_value *new_json(zmo_json_value::Kind kind)
    {
        json.emplace_back();
        json.back().kind = kind;
        json.back().pool = this;
        return &json.back();
    }
    zmo_xml_node *new_xml()
    {
        xml.emplace_back();
        return &xml.back();
    }
};

#endif
