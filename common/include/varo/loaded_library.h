// Run-time binding between the libraries: open by path, resolve by name, use,
// release, unload. LoadedLibrary unloads when it goes out of scope;
// PluginObject hands an object made by a library's getObj back to the same
// library's freeObj before that library is unloaded.
#pragma once

#include <QLibrary>
#include <QString>

#include <string>
#include <utility>

namespace varo {

class LoadedLibrary {
 public:
  // Loads the library at path (an absolute path; the loader's "lib" prefix
  // fall-back applies). isLoaded() tells whether that worked.
  explicit LoadedLibrary(const std::string& path);
  ~LoadedLibrary();
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  bool isLoaded() const { return loaded_; }
  std::string errorString() const { return lib_.errorString().toStdString(); }

  // The exported symbol name as a typed function pointer, or null.
  template <class Fn>
  Fn resolve(const char* name) const {
    if (!loaded_) return nullptr;
    return reinterpret_cast<Fn>(const_cast<QLibrary&>(lib_).resolve(name));
  }

  // Unloads now (idempotent).
  void unload();
  // Leaves the library loaded for the rest of the process: the scope ends
  // without unloading it. Call it last: nothing resolves through this
  // object afterwards.
  void keepResident() { loaded_ = false; }

 private:
  QLibrary lib_;
  bool loaded_ = false;
};

// The parameter of a library's freeObj for objects of Interface: the
// interface pointer, unless the interface's header specialises this (the
// drivers' freeObj takes void*). Calling freeObj through a pointer of
// another type is undefined.
template <class Interface>
struct FreeObjParameter {
  using type = Interface*;
};

// An object created by a library's exported getObj and released through its
// freeObj. The library must outlive the PluginObject: declare the
// LoadedLibrary first so that it is destroyed last.
template <class Interface>
class PluginObject {
 public:
  using GetObjFn = Interface* (*)();
  using FreeObjFn = void (*)(typename FreeObjParameter<Interface>::type);

  explicit PluginObject(const LoadedLibrary& lib) {
    auto getObj = lib.resolve<GetObjFn>("getObj");
    free_ = lib.resolve<FreeObjFn>("freeObj");
    // A library that lacks either factory counts as not loaded.
    if (getObj && free_) obj_ = getObj();
  }
  ~PluginObject() { release(); }
  PluginObject(const PluginObject&) = delete;
  PluginObject& operator=(const PluginObject&) = delete;

  // Null when the library lacks getObj or freeObj or getObj gave nothing.
  Interface* get() const { return obj_; }
  Interface* operator->() const { return obj_; }
  explicit operator bool() const { return obj_ != nullptr; }

  void release() {
    if (obj_ && free_) free_(obj_);
    obj_ = nullptr;
  }

 private:
  Interface* obj_ = nullptr;
  FreeObjFn free_ = nullptr;
};

}  // namespace varo
