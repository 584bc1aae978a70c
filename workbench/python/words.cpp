// Python's words for the library's messages, and its errors as Python's
// exceptions.
#include <cctype>

#include "binding.h"
#include "base/text.h"

namespace urea_python {

using namespace workbench;

PyObject* input_error_type = nullptr;
PyObject* solver_error_type = nullptr;
PyObject* plugin_error_type = nullptr;
PyObject* plot_error_type = nullptr;
PyObject* resource_error_type = nullptr;
PyObject* worker_error_type = nullptr;

namespace {

// A value as Python would write it: a number as it is, text quoted.
std::string value_text(std::string_view v) {
    if (decimal(std::string(v))) return std::string(v);
    std::string out = "\"";
    for (const char ch : v) out += ch == '"' ? std::string("\\\"") : std::string(1, ch);
    return out + "\"";
}

// Whether a value is a placeholder for the user's own ("VALUE", "FILE.csv").
bool placeholder(std::string_view v) {
    bool upper = false;
    for (const char ch : v) {
        if (std::islower(static_cast<unsigned char>(ch))) return false;
        upper = upper || std::isupper(static_cast<unsigned char>(ch));
    }
    return upper;
}

class python_vocabulary final : public vocabulary {
public:
    std::string subject(const field_ref& f) const override {
        if (!f.key.empty()) return f.name + "[\"" + f.key + "\"]";
        if (f.index) return f.name + "[" + std::to_string(*f.index) + "]";
        if (f.echo && !f.text.empty()) return f.name + "=" + value_text(f.text);
        return f.name;
    }
    std::string named(std::string_view field, std::string_view key, std::string_view value) const override {
        const std::string v(value);
        // What the command line writes to files, Python gives as methods.
        if (field == "command") return "urea_reactor." + v + "()";
        if (field == "estimate_file") return "EstimateResult.to_json(), saved to a file,";
        if (field == "estimate_json") return "EstimateResult.to_json()";
        if (field == "estimate_call") return "urea_reactor.estimate(" + value_text(v) + ", " + value_text(key) + ")";
        if (field == "estimate_usage") return "urea_reactor.estimate(runs, case)";
        if (field == "result_list") return "urea_reactor.results()";
        if (field == "csv") return "to_pandas()";
        if (field == "json") return "to_json()";
        if (field == "plot" || field == "region_plot" || field == "map") return "plot()";
        if (field == "report") return "write_report()";
        if (field == "write_case") return "write_case()";
        if (field == "vary" && v == "NAME=FROM:TO:N") return "vary={\"NAME\": (FROM, TO, N)}";
        if (field == "results" && !v.empty()) return "results=[\"NAME\", ...]";
        const std::string name(field);
        if (!key.empty()) return name + "={\"" + std::string(key) + "\": " + v + "}";
        if (!value.empty()) return name + "=" + (placeholder(v) ? v : value_text(v));
        return name;
    }
};

py::object none_if(bool empty, py::object value) { return empty ? py::none() : value; }

}  // namespace

const vocabulary& python_words() {
    static const python_vocabulary v;
    return v;
}

std::string said(const message& m) { return in_words(m, python_words()); }

void translate(std::exception_ptr p) {
    try {
        if (p) std::rethrow_exception(p);
    } catch (const input_error& e) {
        const input_place& at = e.place();
        py::object exc = py::reinterpret_borrow<py::object>(input_error_type)(in_words(e, python_words()));
        exc.attr("reason") = said(e.reason());
        exc.attr("field") = at.field ? py::object(py::str(at.field->name)) : py::object(py::none());
        exc.attr("subject") = at.field ? py::object(py::str(python_words().subject(*at.field))) : py::object(py::none());
        exc.attr("value") = at.field && !at.field->text.empty() ? py::object(py::str(at.field->text)) : py::object(py::none());
        // What the message advises giving, each in Python's words.
        py::list advice;
        for (const message::part& q : e.reason().parts()) {
            if (q.what == message::kind::advice) advice.append(python_words().named(q.field.name, q.field.key, q.field.text));
        }
        exc.attr("advice") = advice;
        exc.attr("key") = none_if(at.key.empty(), py::str(at.key));
        exc.attr("file") = none_if(at.file.empty(), py::str(at.file));
        exc.attr("line") = none_if(at.line == 0, py::int_(at.line));
        exc.attr("column") = none_if(at.column == 0, py::int_(at.column));
        PyErr_SetObject(input_error_type, exc.ptr());
    } catch (const solver_error& e) {
        py::object exc = py::reinterpret_borrow<py::object>(solver_error_type)(e.what());
        exc.attr("details") = e.details();
        PyErr_SetObject(solver_error_type, exc.ptr());
    } catch (const plugin_error& e) {
        PyErr_SetString(plugin_error_type, e.what());
    } catch (const plot_error& e) {
        PyErr_SetString(plot_error_type, said(e.message()).c_str());
    } catch (const resource_error& e) {
        PyErr_SetString(resource_error_type, e.what());
    } catch (const worker_answer_error& e) {
        PyErr_SetString(worker_error_type, e.what());
    } catch (const interrupted& e) {
        // The stop check left the signal handler's exception (KeyboardInterrupt
        // for Ctrl-C) pending in this thread: it is what the call raises.
        if (PyErr_Occurred() == nullptr) PyErr_SetString(PyExc_KeyboardInterrupt, e.what());
    }
}

}  // namespace urea_python
