#include "cli/words.h"

#include "report/json_stream.h"

#include <iostream>
#include <memory>
#include <streambuf>

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

// A stream buffer that passes text on to another, the mentions in it said
// in the command line's words; a mention is held until its end arrives.
class speaking_buffer final : public std::streambuf {
public:
    explicit speaking_buffer(std::streambuf* to) : to_(to) {}

protected:
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
        const char c = traits_type::to_char_type(ch);
        return put(&c, 1) ? ch : traits_type::eof();
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        return put(s, static_cast<std::size_t>(n)) ? n : 0;
    }
    int sync() override {
        // What is held is no mention (ours are written whole): passed on as it is.
        if (!held_.empty()) {
            to_->sputn(held_.data(), static_cast<std::streamsize>(held_.size()));
            held_.clear();
        }
        return to_->pubsync();
    }

private:
    bool put(const char* s, std::size_t n) {
        for (std::size_t k = 0; k < n; ++k) {
            if (held_.empty() && s[k] != '\x01') {
                // Plain text up to the next mention, passed on as it is.
                std::size_t end = k;
                while (end < n && s[end] != '\x01') ++end;
                if (to_->sputn(s + k, static_cast<std::streamsize>(end - k)) != static_cast<std::streamsize>(end - k)) {
                    return false;
                }
                k = end - 1;
                continue;
            }
            held_ += s[k];
            // A mention ends at \x02; one that runs on too long is not one.
            if (s[k] == '\x02' || held_.size() > 4096) {
                const std::string out = said(held_);
                held_.clear();
                if (to_->sputn(out.data(), static_cast<std::streamsize>(out.size())) !=
                    static_cast<std::streamsize>(out.size())) {
                    return false;
                }
            }
        }
        return true;
    }

    std::streambuf* to_;
    std::string held_;
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

std::string said(const std::string& text) { return in_words(text, words()); }

std::string said(const message& m) { return in_words(m, words()); }

void said(nlohmann::ordered_json& j) { in_words(j, words()); }

void speak_on_standard_streams() {
    // Never destroyed: the streams use them until the very end of the process.
    static auto* const out = new speaking_buffer(std::cout.rdbuf());
    static auto* const err = new speaking_buffer(std::cerr.rdbuf());
    std::cout.rdbuf(out);
    std::cerr.rdbuf(err);
}

}  // namespace workbench::cli
