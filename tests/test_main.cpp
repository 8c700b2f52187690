#include <gtest/gtest.h>

#include "platform/platform.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  platform_use_headless();
  return RUN_ALL_TESTS();
}
