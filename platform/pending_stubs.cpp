// Stand-ins for definitions that are not written yet, so that everything links.
#include "cli/entry.h"

int Ob310Main(int, const char* const*, HidLayer&) { return 0; }
