// Library entry point: the loader runs these when the shared library is mapped and unmapped.
#include "tavo/common/platform.h"

namespace {

__attribute__((constructor)) void TavoLibraryLoad() {
    tavo::Platform::OnLibraryLoad();
}

__attribute__((destructor)) void TavoLibraryUnload() {
    tavo::Platform::OnLibraryUnload();
}

}  // namespace
