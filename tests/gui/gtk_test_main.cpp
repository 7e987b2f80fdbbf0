// The toolkit tests' entry: the main thread stays free to become the GUI thread of each session.
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
