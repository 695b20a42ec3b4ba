#pragma once

// A library of the system opened when the model first needs it (OpenBLAS, CHOLMOD), so that
// runs without the model neither load nor start it; what cannot be found is a StageError that
// names the library and the Debian package that holds it. It stays loaded for the rest of the
// run.
namespace ostrel::physical {

class LoadedLibrary {
 public:
  // `file` as the loader finds it (libopenblas.so.0); `name`, `what` and `package` for the
  // messages.
  LoadedLibrary(const char* file, const char* name, const char* what, const char* package);

  // Sets `f` to the routine `symbol`.
  template <typename F>
  void Find(const char* symbol, F& f) const {
    f = reinterpret_cast<F>(Symbol(symbol));
  }

 private:
  void* Symbol(const char* symbol) const;

  const char* name_;
  void* handle_;
};

}  // namespace ostrel::physical
