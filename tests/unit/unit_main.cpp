#include <gtest/gtest.h>

#include "platform/box/box_host.h"
#include "tests/support/scripted_box.h"

int main(int argc, char** argv) {
  // The box host's tests start this binary as the game starts its boxes.
  if (argc > 0 && platform::IsBoxRole(argv[0])) return glomper::testing::RunScriptedBox();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
