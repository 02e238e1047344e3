// Functions bound at run time, one idiom for every deliverable. A list macro names each
// function with the type of its slot:
//     #define MIXER_FUNCTIONS(X) X(Oskal_HookDevice, BINDING_DECLARED(Oskal_HookDevice)) X(...)
// BINDING_SLOT declares one typed slot per entry in a struct, BINDING_BIND fills the slots of a
// table from a module by the entries' names (a slot stays null where the module lacks the
// function) and says whether every one was filled, and BINDING_COUNT counts the entries, so
// names and slots cannot drift apart. A call goes through its slot only when the slot is not
// null.
#pragma once
#include <windows.h>

#define BINDING_SLOT(name, type) type name;
#define BINDING_RESOLVE(name, type)                                                                \
    table.name =                                                                                   \
        reinterpret_cast<type>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, #name)));
#define BINDING_FILLED(name, type) &&table.name
#define BINDING_COUNT(name, type) +1
// The type of a slot for a function the platform's headers declare.
#define BINDING_DECLARED(name) decltype(&::name)

// Fills `tableObject`'s slots for the entries of `list` from `moduleHandle` (a null module
// fills none); true when every slot was filled.
#define BINDING_BIND(list, tableObject, moduleHandle)                                              \
    [](auto& table, HMODULE module) {                                                              \
        if (module) {                                                                              \
            list(BINDING_RESOLVE)                                                                  \
        }                                                                                          \
        return true list(BINDING_FILLED);                                                          \
    }(tableObject, moduleHandle)
