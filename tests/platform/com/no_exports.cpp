// A shared object that loads but exports none of the Dll* functions.
extern "C" __attribute__((visibility("default"))) int NotAServer() { return 42; }
