// A plug-in build whose rate routine crashes its host.
#include <csignal>

#define USURA reference_usura
#include "kinetics/usura.cpp"
#undef USURA

extern "C" UREA_EXPORT void USURA() { std::raise(SIGSEGV); }
