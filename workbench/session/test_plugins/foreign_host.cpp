// A plug-in build for another host: it imports a data item, HOST_UNIT_SYSTEM,
// that this project's hosts do not define, so it must fail to load.
#include "host/host_binding.h"
#include "host/host_interface.h"

extern "C" host_int HOST_UNIT_SYSTEM;

extern "C" UREA_EXPORT void CMPLOC(const host_name*, const double* vec, host_int* index,
                                   double* value) {
    *index = HOST_UNIT_SYSTEM;
    *value = vec[0];
}
