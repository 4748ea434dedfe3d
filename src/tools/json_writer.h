#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

// Writes compact JSON text: values, objects and arrays in order, commas placed by the writer.
// Strings are bytes: valid UTF-8 passes through, control characters are escaped, and a byte that
// is not part of valid UTF-8 (a Latin-1 file name) becomes the character of the same number.
class JsonWriter {
  public:
    JsonWriter& begin_object();
    JsonWriter& end_object();
    JsonWriter& begin_array();
    JsonWriter& end_array();
    JsonWriter& key(std::string_view name);
    JsonWriter& value(std::string_view text);
    JsonWriter& value(const char* text) { return value(std::string_view(text)); }
    JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
    JsonWriter& value(bool flag);
    JsonWriter& value(int64_t number);
    JsonWriter& value(uint64_t number);
    JsonWriter& value(int number) { return value(static_cast<int64_t>(number)); }
    JsonWriter& value(double number);  // three decimals
    JsonWriter& null();

    const std::string& text() const { return out_; }

  private:
    void before_value();

    std::string out_;
    std::vector<bool> empty_;  // per open object or array: nothing written in it yet
    bool after_key_ = false;
};

// text as a JSON string literal, quotes included.
std::string json_string(std::string_view text);

}  // namespace tarnel
