#include "match/match.h"

int main() { return 1; }
