// The command line's words: a field of a request as its option ("--vary
// a2=1:0:-5", "--fix a1=VALUE"). Every message of the library (an error, a
// warning, a verdict, a note) the command line shows is said in them.
#ifndef UREA_WORKBENCH_CLI_WORDS_H
#define UREA_WORKBENCH_CLI_WORDS_H

#include <string>

#include "base/words.h"

namespace workbench::cli {

// The option a field of a request is given as: "--vary", "--result", "--for".
std::string option_of(const std::string& field);

const vocabulary& words();

// A message in the command line's words.
std::string said(const message& m);
std::string said(const std::string& text) = delete;

}  // namespace workbench::cli

#endif
