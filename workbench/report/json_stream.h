// A JSON document written as it is made: one object whose members are
// written one by one, and one of them an array whose items are written one
// by one, laid out byte for byte as nlohmann's dump(2) lays out the whole
// document, so that a study of any size is never held whole in memory;
// and a number as our JSON writes it.
#ifndef UREA_WORKBENCH_REPORT_JSON_STREAM_H
#define UREA_WORKBENCH_REPORT_JSON_STREAM_H

#include <cmath>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>


namespace workbench {

// A number in our JSON: null for a value that is not finite (JSON has no
// NaN or infinity).
inline nlohmann::ordered_json json_number(double v) {
    return std::isfinite(v) ? nlohmann::ordered_json(v) : nlohmann::ordered_json(nullptr);
}

class json_stream {
public:
    explicit json_stream(std::ostream& out) : out_(out) { out_ << "{"; }

    // A member of the object.
    void member(const std::string& key, const nlohmann::ordered_json& value) {
        next_member(key);
        out_ << indented(value.dump(2), 2);
    }
    // A member that is an array, whose items follow (item), then end_array.
    void begin_array(const std::string& key) {
        next_member(key);
        out_ << "[";
        items_ = 0;
    }
    void item(const nlohmann::ordered_json& value) {
        out_ << (items_++ == 0 ? "\n    " : ",\n    ") << indented(value.dump(2), 4);
    }
    void end_array() { out_ << (items_ == 0 ? "]" : "\n  ]"); }
    // Closes the object, with a line end.
    void end() { out_ << (members_ == 0 ? "}\n" : "\n}\n"); }

private:
    void next_member(const std::string& key) {
        out_ << (members_++ == 0 ? "\n  " : ",\n  ") << nlohmann::ordered_json(key).dump() << ": ";
    }
    // The lines after the first moved right by `by`: a JSON text's line
    // breaks are all layout (a string's are escaped).
    static std::string indented(const std::string& text, std::size_t by) {
        std::string out;
        out.reserve(text.size());
        for (const char ch : text) {
            out += ch;
            if (ch == '\n') out.append(by, ' ');
        }
        return out;
    }

    std::ostream& out_;
    std::size_t members_ = 0;
    std::size_t items_ = 0;
};

}  // namespace workbench

#endif
