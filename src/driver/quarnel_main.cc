#include "driver/driver.h"

int main(int argc, char** argv) { return quarnel::run_quarnel(argc, argv); }
