#include "shell/shell_main.h"

int main(int argc, char** argv) { return vl::velluminarMain(argc, argv); }
