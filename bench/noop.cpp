// A Windows console program that does nothing: the floor for a process start
// under Wine, built the way portsift.exe is.
int wmain() { return 0; }
