// The main of every test program: GoogleTest, unless the command line asks the program to
// act as one of its separate programs (support/programs.h).
#include <gtest/gtest.h>

#include "support/programs.h"

int main(int argc, char** argv) {
  if (int status = 0; zedra::testing::RunRequestedProgram(argc, argv, &status)) return status;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
