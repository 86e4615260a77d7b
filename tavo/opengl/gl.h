// GL calls for library code: gl::UseProgram(...) reaches the calling thread's function table.
#pragma once

#include <GL/gl.h>

#include "tavo/opengl/glFunctionList.h"
#include "tavo/opengl/glLoader.h"

// Every OpenGL entry point beyond 1.1 goes through the calling thread's OVR::GLEContext, which must
// have been initialised on that thread (GLEContext::GetCurrentContext()->Init()). The wrappers are
// thread-agnostic: each call uses whichever thread calls it. They take exactly the parameter types
// of the entry point, so arguments convert as they would in a direct call.
namespace tavo::gl {

namespace detail {

template <typename Pointer, Pointer OVR::GLEContext::*Slot>
struct TableCall;

template <typename Result, typename... Params, Result (*OVR::GLEContext::*Slot)(Params...)>
struct TableCall<Result (*)(Params...), Slot> {
    Result operator()(Params... params) const {
        return (OVR::GLEContext::GetCurrentContext()->*Slot)(params...);
    }
};

}  // namespace detail

#define TAVO_GL_TABLE_CALL(name, type) \
    inline constexpr detail::TableCall<type, &OVR::GLEContext::gl##name##_Impl> name{};
TAVO_GL_LOADED_FUNCTIONS(TAVO_GL_TABLE_CALL)
#undef TAVO_GL_TABLE_CALL

// OpenGL 1.1, linked directly; named here too so that call sites read alike.
#define TAVO_GL_DIRECT_CALL(name) inline constexpr auto& name = ::gl##name;
TAVO_GL_DIRECT_FUNCTIONS(TAVO_GL_DIRECT_CALL)
#undef TAVO_GL_DIRECT_CALL

}  // namespace tavo::gl
