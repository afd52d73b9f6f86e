// The end-to-end tests' entry: each test process gets a network of its own before anything else
// runs (see PrivateNetwork.h), then the tests.
#include <gtest/gtest.h>

#include <iostream>

#include "support/PrivateNetwork.h"

int main(int argc, char** argv)
{
    std::string why;
    if (!e2e::enterPrivateNetwork(&why))
        std::cerr << "the tests share this machine's network (" << why
                  << "): tests run side by side may meet on the program's ports\n";
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
