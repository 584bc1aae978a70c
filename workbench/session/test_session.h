// For tests: a suite whose tests share one session on the plug-in this build
// made (UREA_PLUGIN_PATH), opened before the suite's first test and closed
// after its last.
#ifndef UREA_WORKBENCH_SESSION_TEST_SESSION_H
#define UREA_WORKBENCH_SESSION_TEST_SESSION_H

#include <gtest/gtest.h>

#include "session/session.h"

namespace workbench {

class plugin_suite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { lib = new session(UREA_PLUGIN_PATH); }
    static void TearDownTestSuite() {
        delete lib;
        lib = nullptr;
    }
    static inline session* lib = nullptr;
};

}  // namespace workbench

#endif
