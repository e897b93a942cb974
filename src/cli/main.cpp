#include "cli/commands.h"

int main(int argc, char** argv) { return tfold_main(argc, argv); }
