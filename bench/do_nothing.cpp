// Baseline for the start-up benchmark: a console program that does nothing,
// built with the same flags as UlvexSystemSetup.
int wmain() { return 0; }
