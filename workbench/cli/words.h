// The command line's words: a field of a request as its option ("--vary
// a2=1:0:-5", "--fix a1=VALUE"), and standard output and error written so:
// every message of the library (an error, a warning, a verdict, a note)
// passes through here.
#ifndef UREA_WORKBENCH_CLI_WORDS_H
#define UREA_WORKBENCH_CLI_WORDS_H

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "base/words.h"

namespace workbench::cli {

// The option a field of a request is given as: "--vary", "--result", "--for".
std::string option_of(const std::string& field);

const vocabulary& words();

// Text in the command line's words.
std::string said(const std::string& text);
std::string said(const message& m);

// Every string of a JSON document in the command line's words.
void said(nlohmann::ordered_json& j);

// Makes std::cout and std::cerr say the library's mentions of fields in the
// command line's words as they are written (a mention is never split by a
// flush: it is held until whole).
void speak_on_standard_streams();

}  // namespace workbench::cli

#endif
