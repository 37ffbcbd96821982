#include "Sandbox.h"

int main() { return 1; }
