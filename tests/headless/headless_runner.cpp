// The headless program as the tests start it.
#include "run_headless.h"

int main(int argc, char** argv) { return RunHeadless(argc, argv); }
