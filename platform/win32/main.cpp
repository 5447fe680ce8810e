// The executable's entry point: the wide-character main of a console program.
#include "app/entry.h"

int wmain(int argc, wchar_t** argv) { return RunProgram(argc, argv); }
