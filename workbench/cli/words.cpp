#include "cli/words.h"

namespace workbench::cli {
namespace {

class cli_words final : public vocabulary {
public:
    std::string subject(const field_ref& f) const override {
        const std::string option = option_of(f.name);
        return f.echo && !f.text.empty() ? option + " " + f.text : option;
    }
    std::string named(std::string_view field, std::string_view key, std::string_view value) const override {
        const std::string v(value);
        if (field == "command") return "`urea-reactor " + v + "`";
        if (field == "estimate_file") return "urea-reactor estimate RUNS.csv --json > EST.json";
        if (field == "estimate_json") return "urea-reactor estimate --json";
        if (field == "estimate_call") return "urea-reactor estimate " + std::string(key) + " " + v;
        if (field == "estimate_usage") return "urea-reactor estimate RUNS.csv [CASE.json]";
        if (field == "result_list") return "urea-reactor study --list-results";
        std::string s = option_of(std::string(field));
        if (!key.empty()) return s + " " + std::string(key) + "=" + v;
        if (!value.empty()) s += " " + v;
        return s;
    }
};

}  // namespace

std::string option_of(const std::string& field) {
    if (field == "results") return "--result";
    if (field == "for_factor") return "--for";
    std::string option = "--" + field;
    for (char& ch : option) {
        if (ch == '_') ch = '-';
    }
    return option;
}

const vocabulary& words() {
    static const cli_words w;
    return w;
}

std::string said(const message& m) { return in_words(m, words()); }

}  // namespace workbench::cli
