// The Dayvane calendar. It takes no command-line arguments of its own.
#include "application.h"

int main(int argc, char** argv) { return dayvane::RunDayvane(argc, argv); }
