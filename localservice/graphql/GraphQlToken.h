#pragma once

#include <QString>

namespace kernwell::localservice {

struct GraphQlToken {
    enum class Kind { End, Punctuator, Name, Int, Float, String };
    Kind kind = Kind::End;
    QString text; // punctuator or name as written, number as written, string unescaped
    int line = 1;
    int column = 1;
};

} // namespace kernwell::localservice
