#include "audio_backend.h"
#include <string.h>

BackEndMode g_backEndMode = MixerMode;

bool BuildEndpointLibraryPath(const char *programFile, char *out)
{
    static const char kName[] = "\\Pernet.dll";
    out[0] = '\0';
    // The last backslash, stepping over both bytes of double-byte characters.
    const char *lastSlash = nullptr;
    for (const char *p = programFile; *p;) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1]) {
            p += 2;
        } else {
            if (*p == '\\')
                lastSlash = p;
            p++;
        }
    }
    if (!lastSlash)
        return false;
    size_t dirLength = (size_t)(lastSlash - programFile);
    if (dirLength + sizeof kName > kLibraryPathSize)
        return false;
    memcpy(out, programFile, dirLength);
    memcpy(out + dirLength, kName, sizeof kName);
    return true;
}

#ifdef LUMETTA_LEGACY

// The legacy build links the mixer library at load time with just the functions it calls.
extern "C" {
int WINAPI Oskal_HookDevice(HWND window, UINT device);
int WINAPI Oskal_UnHookDevice(HWND window, UINT device);
int WINAPI Oskal_GetMaxMinValue(UINT mixer, UINT line, UINT control, DWORD *maximum,
                                DWORD *minimum, UINT flags);
int WINAPI Oskal_GetValue(UINT mixer, UINT line, UINT control, DWORD **values, DWORD *count);
int WINAPI Oskal_FreeValueItems(DWORD *values);
}

int MixerHookDevice(HWND window) { return Oskal_HookDevice(window, 0); }
int MixerUnHookDevice(HWND window) { return Oskal_UnHookDevice(window, 0); }
int MixerGetMaxMinValue(DWORD *maximum, DWORD *minimum)
{
    return Oskal_GetMaxMinValue(0, 0, 1, maximum, minimum, 0);
}
int MixerGetValue(DWORD **values, DWORD *count) { return Oskal_GetValue(0, 0, 1, values, count); }
void MixerFreeValueItems(DWORD *values) { Oskal_FreeValueItems(values); }

#else

typedef void (*AnyFunction)(void);
typedef int(WINAPI *WindowHookFn)(HWND, UINT);
typedef int(WINAPI *MaxMinFn)(UINT, UINT, UINT, DWORD *, DWORD *, UINT);
typedef int(WINAPI *GetValueFn)(UINT, UINT, UINT, DWORD **, DWORD *);
typedef int(WINAPI *FreeItemsFn)(DWORD *);
typedef int(WINAPI *InitExFn)(HWND, UINT, UINT);
typedef int(WINAPI *NoArgumentFn)(void);
typedef int(WINAPI *GetVolumeFn)(int *);

// Slot numbers follow the order the names are resolved in.
enum MixerSlot {
    OskalGetDevicesCount, OskalHookDevice, OskalUnHookDevice, OskalGetDeviceName,
    OskalFindDefaultMixerNumber, OskalGetLineName, OskalGetControlName, OskalGetControlID,
    OskalGetMaxMinValue, OskalGetValueItemCount, OskalGetValue, OskalSetValue,
    OskalCanRecordMultipleSelected, OskalGetRecordSelectedCount, OskalIsRecordSelected,
    OskalSetRecordSelected, OskalFreeValueItems, MixerSlotCount = 34
};
static const char *const kMixerNames[MixerSlotCount] = {
    "Oskal_GetDevicesCount", "Oskal_HookDevice", "Oskal_UnHookDevice", "Oskal_GetDeviceName",
    "Oskal_FindDefaultMixerNumber", "Oskal_GetLineName", "Oskal_GetControlName",
    "Oskal_GetControlID", "Oskal_GetMaxMinValue", "Oskal_GetValueItemCount", "Oskal_GetValue",
    "Oskal_SetValue", "Oskal_CanRecordMultipleSelected", "Oskal_GetRecordSelectedCount",
    "Oskal_IsRecordSelected", "Oskal_SetRecordSelected", "Oskal_FreeValueItems",
    "Oskal_GetLineNameExByCtrlID", "Oskal_GetControlNameExByCtrlID",
    "Oskal_GetMaxMinValueExByCtrlID", "Oskal_GetValueItemCountExByCtrlID",
    "Oskal_GetValueExByCtrlID", "Oskal_SetValueExByCtrlID", "Oskal_IsRecordSelectedExByCtrlID",
    "Oskal_SetRecordSelectedExByCtrlID", "Oskal_GetControlIDEx", "Oskal_GetLineNameEx",
    "Oskal_GetControlNameEx", "Oskal_GetMaxMinValueEx", "Oskal_GetValueItemCountEx",
    "Oskal_GetValueEx", "Oskal_SetValueEx", "Oskal_IsRecordSelectedEx", "Oskal_SetRecordSelectedEx",
};

enum EndpointSlot {
    PernetInit, PernetInitEx, PernetDeInit, PernetGetMute, PernetSetMute, PernetGetVolumeLevel,
    PernetSetVolumeLevel, PernetVolumeLevelStepUp, PernetVolumeLevelStepDown, PernetRegister,
    PernetUnregister, PernetOnDefaultDeviceChanged, PernetOnDeviceRemoved, EndpointSlotCount
};
static const char *const kEndpointNames[EndpointSlotCount] = {
    "Pernet_Init", "Pernet_InitEx", "Pernet_DeInit", "Pernet_GetMute", "Pernet_SetMute",
    "Pernet_GetVolumeLevel", "Pernet_SetVolumeLevel", "Pernet_VolumeLevelStepUp",
    "Pernet_VolumeLevelStepDown", "Pernet_Register", "Pernet_Unregister",
    "Pernet_OnDefaultDeviceChanged", "Pernet_OnDeviceRemoved",
};

static HMODULE s_mixerModule;
static FARPROC s_mixerSlots[MixerSlotCount];
static HMODULE s_endpointModule;
static FARPROC s_endpointSlots[EndpointSlotCount];

// A slot as a callable of the given type (null stays null).
#define SLOT_AS(type, slot) reinterpret_cast<type>(reinterpret_cast<AnyFunction>(slot))

static void Resolve(HMODULE module, const char *const *names, FARPROC *slots, int count)
{
    for (int i = 0; i < count; i++)
        slots[i] = GetProcAddress(module, names[i]);
}

static void Release(HMODULE *module, FARPROC *slots, int count)
{
    if (!*module)
        return;
    for (int i = 0; i < count; i++)
        slots[i] = nullptr;
    FreeLibrary(*module);
    *module = nullptr;
}

bool BindAudioBackEnd()
{
    if (g_backEndMode == MixerMode) {
        s_mixerModule = LoadLibraryA("Oskal.dll");
        if (!s_mixerModule)
            return false;
        Resolve(s_mixerModule, kMixerNames, s_mixerSlots, MixerSlotCount);
        return true;
    }
    char program[2 * MAX_PATH];
    char library[kLibraryPathSize];
    DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
    // No path, a truncated one, or one without a directory: never load by a guessed name.
    if (n == 0 || n >= sizeof program || !BuildEndpointLibraryPath(program, library))
        return false;
    s_endpointModule = LoadLibraryA(library);
    if (!s_endpointModule)
        return false;
    Resolve(s_endpointModule, kEndpointNames, s_endpointSlots, EndpointSlotCount);
    return true;
}

void UnbindAudioBackEnd()
{
    if (g_backEndMode == MixerMode)
        Release(&s_mixerModule, s_mixerSlots, MixerSlotCount);
    else
        Release(&s_endpointModule, s_endpointSlots, EndpointSlotCount);
}

bool RegisterVolumeNotifications(HWND window)
{
    if (g_backEndMode == MixerMode) {
        WindowHookFn hook = SLOT_AS(WindowHookFn, s_mixerSlots[OskalHookDevice]);
        return hook && hook(window, 0);
    }
    InitExFn initEx = SLOT_AS(InitExFn, s_endpointSlots[PernetInitEx]);
    if (!initEx || !initEx(window, kDefaultDeviceChangedMsg, kDeviceRemovedMsg))
        return false;
    WindowHookFn reg = SLOT_AS(WindowHookFn, s_endpointSlots[PernetRegister]);
    return reg && reg(window, kEndpointVolumeMsg);
}

int UnregisterVolumeNotifications(HWND window)
{
    if (g_backEndMode == MixerMode) {
        WindowHookFn unhook = SLOT_AS(WindowHookFn, s_mixerSlots[OskalUnHookDevice]);
        return unhook ? unhook(window, 0) : 0;
    }
    WindowHookFn unreg = SLOT_AS(WindowHookFn, s_endpointSlots[PernetUnregister]);
    if (unreg)
        unreg(window, kEndpointVolumeMsg);
    NoArgumentFn deinit = SLOT_AS(NoArgumentFn, s_endpointSlots[PernetDeInit]);
    if (deinit)
        deinit();
    return 1;
}

void ForwardDefaultDeviceChanged()
{
    NoArgumentFn f = SLOT_AS(NoArgumentFn, s_endpointSlots[PernetOnDefaultDeviceChanged]);
    if (f)
        f();
}

void ForwardDeviceRemoved()
{
    NoArgumentFn f = SLOT_AS(NoArgumentFn, s_endpointSlots[PernetOnDeviceRemoved]);
    if (f)
        f();
}

int MixerGetMaxMinValue(DWORD *maximum, DWORD *minimum)
{
    MaxMinFn f = SLOT_AS(MaxMinFn, s_mixerSlots[OskalGetMaxMinValue]);
    return f ? f(0, 0, 1, maximum, minimum, 0) : 0;
}

int MixerGetValue(DWORD **values, DWORD *count)
{
    GetValueFn f = SLOT_AS(GetValueFn, s_mixerSlots[OskalGetValue]);
    return f ? f(0, 0, 1, values, count) : 0;
}

void MixerFreeValueItems(DWORD *values)
{
    FreeItemsFn f = SLOT_AS(FreeItemsFn, s_mixerSlots[OskalFreeValueItems]);
    if (f)
        f(values);
}

int EndpointGetVolumeLevel(int *percent)
{
    GetVolumeFn f = SLOT_AS(GetVolumeFn, s_endpointSlots[PernetGetVolumeLevel]);
    return f ? f(percent) : 0;
}

#endif
