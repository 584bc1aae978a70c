// A plug-in build that crashes its host while it is loaded: a constructor
// of its own faults.
#include <csignal>

[[gnu::constructor]] static void fault_at_load() { std::raise(SIGSEGV); }
