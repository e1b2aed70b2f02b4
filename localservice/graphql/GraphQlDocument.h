#pragma once

#include <QString>

#include <utility>
#include <vector>

namespace kernwell::localservice {

struct GraphQlInputField;

// The parsed form of one query: values, fields and the operation.
struct GraphQlValue {
    enum class Kind { Null, Boolean, Int, Float, String, Enum, List, Object };
    Kind kind = Kind::Null;
    QString text; // Int, Float (as written), String (unescaped), Enum (name)
    bool boolean = false;
    std::vector<GraphQlValue> list;
    std::vector<GraphQlInputField> fields; // Object, in order
    int line = 0;
    int column = 0;
};

// One name: value pair of an object value.
struct GraphQlInputField {
    QString name;
    GraphQlValue value;
};

struct GraphQlField {
    QString alias; // equals name when none was given
    QString name;
    std::vector<std::pair<QString, GraphQlValue>> arguments;
    std::vector<GraphQlField> selections; // empty: a leaf
    bool hasSelectionSet = false;
    int line = 0;
    int column = 0;
};

struct GraphQlDocument {
    std::vector<GraphQlField> selections; // of the one query operation
};

} // namespace kernwell::localservice
