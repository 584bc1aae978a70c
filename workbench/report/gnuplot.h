// Text and numbers in the gnuplot scripts of every plot: our own labels as
// enhanced text, the user's text (a run's name) as a plain string that
// gnuplot expands nothing in, and round steps for tics and levels.
#ifndef UREA_WORKBENCH_REPORT_GNUPLOT_H
#define UREA_WORKBENCH_REPORT_GNUPLOT_H

#include <cstddef>
#include <string>

namespace workbench {

// Our enhanced text ("CO_2 conversion (%)") as a double-quoted gnuplot
// string: quotes escaped, a newline as \n, and a space right after a
// subscript or superscript drawn as an invisible "i" (&{i}, about a space
// wide): an SVG renderer may drop a space that opens a text span, as
// librsvg does, even a no-break one.
std::string gnuplot_markup(const std::string& markup);

// The user's text as a single-quoted gnuplot string (in which gnuplot
// expands nothing), quotes doubled, control characters shown as '?', at
// most `longest` characters; to be drawn `noenhanced`, so that no
// character is markup.
std::string gnuplot_plain(const std::string& text, std::size_t longest = 40);

// A step of 1, 2, 2.5 or 5 times a power of ten: about `count` of them over
// the range.
double nice_step(double range, int count);

}  // namespace workbench

#endif
