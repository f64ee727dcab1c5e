// tavrick-batch: fits the same lines in many spectra at once.
#include "batch/cli.h"

int main(int argc, char** argv) { return batch::batch_main(argc, argv); }
