// Must not compile: a target that links only the format's library includes a builder header.
#include "archive/archive_reader.h"
#include "builder/build_driver.h"

int main() { return 0; }
