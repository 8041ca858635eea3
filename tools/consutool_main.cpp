#include "consutool.h"

int main(int argc, char** argv) { return ConsutoolMain(argc, argv); }
