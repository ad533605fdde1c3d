// tests/support/probe_dll.cpp
// A DLL the DLL-search test places beside itself, as a planted one would be.
extern "C" __declspec(dllexport) int ZelProbe() { return 42; }
