// A DLL that some other program could leave where a program looks for DLLs: the current folder
// or the program's own. The tests only ask whether it loads.
extern "C" __declspec(dllexport) int PlantedDllMarker() { return 42; }
