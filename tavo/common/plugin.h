// Loading of a dynamic library by base name and typed lookup of its entry points.
#pragma once

#include <string>

#include "tavo/common/export.h"

namespace tavo {

// One loaded dynamic library. The library is searched first beside this SDK's own file, then
// through the system loader's standard search (never the current directory); it is unloaded
// when the object is destroyed. Any thread may load and unload; one object belongs to one
// thread at a time.
class TAVO_API PluginLibrary {
  public:
    // `name` is the base name without folder, prefix or suffix; throws tavo::Exception when the
    // library cannot be loaded.
    explicit PluginLibrary(const std::string& name);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // The system's module handle; never null after construction.
    void* handle() const { return handle_; }

    // Address of the exported symbol `symbol`; throws tavo::Exception when it is missing.
    void* Resolve(const std::string& symbol) const;

  private:
    void* handle_ = nullptr;
};

template <typename Signature>
class PluginFunction;

// One resolved entry point of a PluginLibrary, typed by its signature. It does not keep the
// library loaded: the owner keeps the library alive as long as it calls the function.
template <typename Result, typename... Arguments>
class PluginFunction<Result(Arguments...)> {
  public:
    using Pointer = Result (*)(Arguments...);

    // Throws tavo::Exception when the library does not export `symbol`.
    PluginFunction(const PluginLibrary& library, const std::string& symbol)
        : function_(reinterpret_cast<Pointer>(library.Resolve(symbol))) {}

    Result operator()(Arguments... arguments) const {
        return function_(static_cast<Arguments>(arguments)...);
    }

    Pointer get() const { return function_; }

  private:
    Pointer function_;
};

}  // namespace tavo
