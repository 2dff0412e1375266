// main.cpp - process entry: the exit status is the driver's result.

#include "driver/driver.h"

int main(int argc, char** argv) { return GrayfixMain(argc, argv); }
