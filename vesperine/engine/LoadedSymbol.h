#pragma once

#include <dlfcn.h>

namespace vesperine {

// Points `slot` at the function `name` of a library opened with dlopen;
// false when the library has no such symbol. The slot's type is the
// function's own pointer type (decltype(&function)), so calls are checked.
template <typename FunctionPointer>
bool bindSymbol(void* library, const char* name, FunctionPointer& slot) {
    slot = reinterpret_cast<FunctionPointer>(dlsym(library, name));
    return slot != nullptr;
}

}  // namespace vesperine
