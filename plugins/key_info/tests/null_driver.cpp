// A library with the driver factory whose getObj makes no object.
extern "C" __attribute__((visibility("default"))) void* getObj() {
  return nullptr;
}
extern "C" __attribute__((visibility("default"))) void freeObj(void*) {}
