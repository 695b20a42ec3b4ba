#include "physical/loaded_library.h"

#include <dlfcn.h>

#include <string>

#include "base/stage_error.h"

namespace ostrel::physical {

LoadedLibrary::LoadedLibrary(const char* file, const char* name, const char* what,
                             const char* package)
    : name_(name), handle_(::dlopen(file, RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    const char* why = ::dlerror();
    throw StageError(std::string("the physical model needs the ") + what + " " + name + " (" +
                     file + ", Debian's " + package +
                     "): " + (why != nullptr ? why : "it cannot be loaded"));
  }
}

void* LoadedLibrary::Symbol(const char* symbol) const {
  void* address = ::dlsym(handle_, symbol);
  if (address == nullptr) {
    throw StageError(std::string("the library ") + name_ + " has no " + symbol);
  }
  return address;
}

}  // namespace ostrel::physical
