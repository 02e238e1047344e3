// A GoogleTest main that also serves the `child` runs a test program makes of itself.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

// A run of the program as a child of a test: its mode and what it does with the words after.
struct ChildMode {
    const char* name;
    int (*run)(int argc, char** argv);  // argv[0] is the first word after the mode
};

// main of a test program: `program child MODE ...` runs that mode and exits with its result
// (99 for an unknown mode); anything else runs the tests.
inline int TestMain(int argc, char** argv, std::initializer_list<ChildMode> children)
{
    if (argc >= 3 && strcmp(argv[1], "child") == 0) {
        for (const ChildMode& child : children)
            if (strcmp(argv[2], child.name) == 0) return child.run(argc - 3, argv + 3);
        return 99;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
