// The converter program; its exit code is the result code of the run.
#include "convert.h"

int main(int argc, char** argv) { return parlux::parluxMain(argc, argv); }
