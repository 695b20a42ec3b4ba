#pragma once

#include <dlfcn.h>

#include <string>

#include "base/stage_error.h"

// A library of the system opened when the model first needs it (OpenBLAS, CHOLMOD), so that
// runs without the model neither load nor start it; what cannot be found is a StageError that
// names the library and the Debian package that holds it. It stays loaded for the rest of the
// run.
namespace ostrel::physical {

class LoadedLibrary {
 public:
  // `file` as the loader finds it (libopenblas.so.0); `name` and `package` for the messages.
  LoadedLibrary(const char* file, const char* name, const char* what, const char* package)
      : name_(name), handle_(::dlopen(file, RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) {
      const char* why = ::dlerror();
      throw StageError(std::string("the physical model needs the ") + what + " " + name + " (" +
                       file + ", Debian's " + package +
                       "): " + (why != nullptr ? why : "it cannot be loaded"));
    }
  }

  // Sets `f` to the routine `symbol`.
  template <typename F>
  void Find(const char* symbol, F& f) const {
    f = reinterpret_cast<F>(::dlsym(handle_, symbol));
    if (f == nullptr) throw StageError(std::string("the library ") + name_ + " has no " + symbol);
  }

 private:
  const char* name_;
  void* handle_;
};

}  // namespace ostrel::physical
