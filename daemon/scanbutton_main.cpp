#include "scan_manager.h"

int main() { return ScanButtonMain(); }
