// tavrick-store: fills and inspects the spectrum store tavrick reads.
#include "tools/store_cli.h"

int main(int argc, char** argv) { return tavrick::tools::store_main(argc, argv); }
