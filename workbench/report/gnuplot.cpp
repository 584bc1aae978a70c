#include "report/gnuplot.h"

#include <cmath>

#include "base/text.h"

namespace workbench {

std::string gnuplot_markup(const std::string& markup) {
    std::string q = "\"";
    // Where a subscript or superscript ends: after its one character, or
    // at the brace that closes its group.
    bool script = false, group = false, ended = false;
    for (std::size_t i = 0; i < markup.size(); ++i) {
        const char ch = markup[i];
        const bool escaped = i > 0 && markup[i - 1] == '\\';
        if (ch == ' ' && ended) {
            q += "&{i}";
            ended = false;
            continue;
        }
        ended = false;
        if (ch == '"') {
            q += "\\\"";
        } else if (ch == '\n') {
            q += "\\n";
        } else {
            q += ch;
        }
        if ((ch == '_' || ch == '^') && !escaped) {
            script = true;
            group = false;
        } else if (script && ch == '{' && !group) {
            group = true;
        } else if (script && (!group || ch == '}')) {
            script = group = false;
            ended = true;
        }
    }
    return q + "\"";
}

std::string gnuplot_plain(const std::string& text, std::size_t longest) {
    std::string t = printable(text);
    if (t.size() > longest) t = t.substr(0, longest - 1) + "~";
    std::string out = "'";
    for (const char c : t) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

double nice_step(double range, int count) {
    const double raw = range / count;
    const double ten = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 2.5, 5.0, 10.0}) {
        if (m * ten >= raw) return m * ten;
    }
    return 10.0 * ten;
}

}  // namespace workbench
