// A plug-in build whose rate routine never returns.
#include <unistd.h>

#define USURA reference_usura
#include "kinetics/usura.cpp"
#undef USURA

extern "C" UREA_EXPORT void USURA() {
    for (;;) pause();
}
