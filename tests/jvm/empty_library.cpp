// A loadable library that exports none of the entry points the server looks for.
extern "C" __attribute__((visibility("default"))) int veltEmptyLibraryMarker() { return 1; }
