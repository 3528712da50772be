// A module that carries PINBUS.OCX's resources and nothing else: the resource and type-library
// tests read it as data, the way the platform reads a library's resources.
extern "C" __attribute__((visibility("default"))) int TestModuleMarker() { return 1; }
