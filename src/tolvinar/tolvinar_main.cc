#include "tolvinar/tolvinar.h"

int main(int argc, char** argv) { return quarnel::run_tolvinar(argc, argv); }
