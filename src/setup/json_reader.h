// A reader of JSON text into a small tree, for the documents the library
// itself takes (setups). It is the library's own because the library builds
// with a C++ compiler and CMake alone, with no third-party headers (the tools
// use nlohmann-json). It is strict where setups need it: whole numbers kept
// exact, an object's members kept in their order, and a key given twice
// refused by its path, worded as varek-server words one in a request body.
#ifndef VAREK_SETUP_JSON_READER_H
#define VAREK_SETUP_JSON_READER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varek {

struct JsonValue {
    enum class Kind { Null, Boolean, Number, String, Object, Array };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;
    // Set for a number written without exponent, and without a fraction or
    // with one of zeros alone (12345.0), that fits 64 bits.
    bool whole = false;
    std::int64_t whole_number = 0;
    std::string text;  // a string's value; a number's literal, as written
    std::vector<std::pair<std::string, JsonValue>> members;
    std::vector<JsonValue> items;
};

// Reads the one value `text` holds; false, with `error` saying why and
// where, when it is not JSON ("not JSON: line 3, column 9: ...") or when an
// object gives a key twice ("channels.2.delay: given twice (line 3, column 9)").
bool ReadJson(const std::string& text, JsonValue& value, std::string& error);

// `text` as a JSON string literal, quotes included.
std::string JsonQuoted(const std::string& text);

// What kind of value this is, as an error message names it: "a string".
const char* JsonKindName(JsonValue::Kind kind);

}  // namespace varek

#endif
