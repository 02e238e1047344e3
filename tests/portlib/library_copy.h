// A copy of Brannic.dll loaded with some of its load-time imports pointed elsewhere, so that a
// test can make the platform answer as another Windows would: its run-time binding goes through
// a GetProcAddress of the test's, its conversions through the test's rules.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "test_support.h"

namespace portlib_test {

// Points one load-time import of a loaded module at another function; false when the module
// does not import it.
inline bool PatchImport(HMODULE module, const char* dll, const char* function, void* replacement)
{
    auto base = reinterpret_cast<uint8_t*>(module);
    auto dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name;
         d++) {
        if (_stricmp(reinterpret_cast<char*>(base + d->Name), dll) != 0) continue;
        auto names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
        auto slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<char*>(byName->Name), function) != 0) continue;
            DWORD protection;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE,
                                &protection))
                return false;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), protection,
                           &protection);
            return true;
        }
    }
    return false;
}

typedef FARPROC(WINAPI* LookupFn)(HMODULE, LPCSTR);

// A copy of the library of its own, loaded with its GetProcAddress import pointed at lookup,
// so that its run-time binding, which comes after the patch, goes through lookup.
inline HMODULE LoadWithLookup(const char* copyName, LookupFn lookup)
{
    std::string copy = BinDir() + "\\" + copyName;
    EXPECT_TRUE(CopyFileA((BinDir() + "\\Brannic.dll").c_str(), copy.c_str(), FALSE))
        << GetLastError();
    HMODULE library = LoadLibraryA(copy.c_str());
    EXPECT_NE(nullptr, library) << GetLastError();
    if (library && !PatchImport(library, "KERNEL32.dll", "GetProcAddress", (void*)lookup)) {
        ADD_FAILURE() << copyName << " imports no GetProcAddress";
        FreeLibrary(library);
        return nullptr;
    }
    return library;
}

inline bool IsName(LPCSTR name, const char* wanted)
{
    return HIWORD(reinterpret_cast<ULONG_PTR>(name)) && strcmp(name, wanted) == 0;
}

}  // namespace portlib_test
