// Functions bound at run time, one idiom for every deliverable. A list macro names each
// function with the type of its slot:
//     #define MIXER_FUNCTIONS(X) X(Oskal_HookDevice, WindowHookFn) X(...)
// BINDING_SLOT declares one typed slot per entry in a struct, BINDING_RESOLVE fills a slot
// of `table` from `module` by the entry's name (null when the module lacks it), and
// BINDING_COUNT counts the entries, so names and slots cannot drift apart. A call goes
// through its slot only when the slot is not null.
#pragma once
#include <windows.h>

#define BINDING_SLOT(name, type) type name;
#define BINDING_RESOLVE(name, type)                                                                \
    table.name =                                                                                   \
        reinterpret_cast<type>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, #name)));
#define BINDING_COUNT(name, type) +1
// The type of a slot for a function the platform's headers declare.
#define BINDING_DECLARED(name) decltype(&::name)
