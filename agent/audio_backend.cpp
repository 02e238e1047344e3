#include "audio_backend.h"
#include <string.h>

BackEndMode g_backEndMode = kMixerMode;

typedef int(WINAPI *WindowHookFn)(HWND, UINT);
typedef int(WINAPI *MaxMinFn)(UINT, UINT, UINT, DWORD *, DWORD *, UINT);
typedef int(WINAPI *GetValueFn)(UINT, UINT, UINT, DWORD **, DWORD *);
typedef int(WINAPI *FreeItemsFn)(DWORD *);
typedef int(WINAPI *InitExFn)(HWND, UINT, UINT);
typedef int(WINAPI *NoArgumentFn)(void);
typedef int(WINAPI *GetVolumeFn)(int *);

// Each library's functions in the order they are resolved, with the type of the slot: one list
// gives every slot its name, so names and slots cannot drift apart. Functions the agent only
// resolves keep the untyped FARPROC.
#define MIXER_FUNCTIONS(X)                                                                      \
    X(Oskal_GetDevicesCount, FARPROC) X(Oskal_HookDevice, WindowHookFn)                         \
    X(Oskal_UnHookDevice, WindowHookFn) X(Oskal_GetDeviceName, FARPROC)                         \
    X(Oskal_FindDefaultMixerNumber, FARPROC) X(Oskal_GetLineName, FARPROC)                      \
    X(Oskal_GetControlName, FARPROC) X(Oskal_GetControlID, FARPROC)                             \
    X(Oskal_GetMaxMinValue, MaxMinFn) X(Oskal_GetValueItemCount, FARPROC)                       \
    X(Oskal_GetValue, GetValueFn) X(Oskal_SetValue, FARPROC)                                    \
    X(Oskal_CanRecordMultipleSelected, FARPROC) X(Oskal_GetRecordSelectedCount, FARPROC)        \
    X(Oskal_IsRecordSelected, FARPROC) X(Oskal_SetRecordSelected, FARPROC)                      \
    X(Oskal_FreeValueItems, FreeItemsFn) X(Oskal_GetLineNameExByCtrlID, FARPROC)                \
    X(Oskal_GetControlNameExByCtrlID, FARPROC) X(Oskal_GetMaxMinValueExByCtrlID, FARPROC)       \
    X(Oskal_GetValueItemCountExByCtrlID, FARPROC) X(Oskal_GetValueExByCtrlID, FARPROC)          \
    X(Oskal_SetValueExByCtrlID, FARPROC) X(Oskal_IsRecordSelectedExByCtrlID, FARPROC)           \
    X(Oskal_SetRecordSelectedExByCtrlID, FARPROC) X(Oskal_GetControlIDEx, FARPROC)              \
    X(Oskal_GetLineNameEx, FARPROC) X(Oskal_GetControlNameEx, FARPROC)                          \
    X(Oskal_GetMaxMinValueEx, FARPROC) X(Oskal_GetValueItemCountEx, FARPROC)                    \
    X(Oskal_GetValueEx, FARPROC) X(Oskal_SetValueEx, FARPROC)                                   \
    X(Oskal_IsRecordSelectedEx, FARPROC) X(Oskal_SetRecordSelectedEx, FARPROC)

#define ENDPOINT_FUNCTIONS(X)                                                                   \
    X(Pernet_Init, FARPROC) X(Pernet_InitEx, InitExFn) X(Pernet_DeInit, NoArgumentFn)           \
    X(Pernet_GetMute, FARPROC) X(Pernet_SetMute, FARPROC)                                       \
    X(Pernet_GetVolumeLevel, GetVolumeFn) X(Pernet_SetVolumeLevel, FARPROC)                     \
    X(Pernet_VolumeLevelStepUp, FARPROC) X(Pernet_VolumeLevelStepDown, FARPROC)                 \
    X(Pernet_Register, WindowHookFn) X(Pernet_Unregister, WindowHookFn)                         \
    X(Pernet_OnDefaultDeviceChanged, NoArgumentFn) X(Pernet_OnDeviceRemoved, NoArgumentFn)

// A table is its typed slots and, over the same storage, the array the names are resolved
// into in order.
#define DECLARE_SLOT(name, type) type name;
#define NAME_OF_SLOT(name, type) #name,
#define COUNT_SLOT(name, type) +1
const int kMixerSlots = 0 MIXER_FUNCTIONS(COUNT_SLOT);
const int kEndpointSlots = 0 ENDPOINT_FUNCTIONS(COUNT_SLOT);
static_assert(kMixerSlots == 34 && kEndpointSlots == 13, "the libraries' functions");

union MixerTable {
    struct { MIXER_FUNCTIONS(DECLARE_SLOT) } fn;
    FARPROC slot[kMixerSlots];
};
union EndpointTable {
    struct { ENDPOINT_FUNCTIONS(DECLARE_SLOT) } fn;
    FARPROC slot[kEndpointSlots];
};
static_assert(sizeof(MixerTable) == sizeof(FARPROC) * kMixerSlots, "one slot per name");
static_assert(sizeof(EndpointTable) == sizeof(FARPROC) * kEndpointSlots, "one slot per name");
static const char *const kMixerNames[kMixerSlots] = {MIXER_FUNCTIONS(NAME_OF_SLOT)};
static const char *const kEndpointNames[kEndpointSlots] = {ENDPOINT_FUNCTIONS(NAME_OF_SLOT)};

static HMODULE s_mixerModule;
static MixerTable s_mixer;
static HMODULE s_endpointModule;
static EndpointTable s_endpoint;

// Names the library does not export leave their slots null.
static void Resolve(HMODULE module, const char *const *names, FARPROC *slots, int count)
{
    for (int i = 0; i < count; i++)
        slots[i] = GetProcAddress(module, names[i]);
}

// The slots are emptied before the library goes, so no call can reach a freed module.
static void Release(HMODULE *module, FARPROC *slots, int count)
{
    if (!*module)
        return;
    for (int i = 0; i < count; i++)
        slots[i] = nullptr;
    FreeLibrary(*module);
    *module = nullptr;
}

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

bool BindAudioBackEnd()
{
    if (g_backEndMode == kMixerMode) {
        s_mixerModule = LoadLibraryA("Oskal.dll");
        if (!s_mixerModule)
            return false;
        Resolve(s_mixerModule, kMixerNames, s_mixer.slot, kMixerSlots);
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
    Resolve(s_endpointModule, kEndpointNames, s_endpoint.slot, kEndpointSlots);
    return true;
}

void UnbindAudioBackEnd()
{
    if (g_backEndMode == kMixerMode)
        Release(&s_mixerModule, s_mixer.slot, kMixerSlots);
    else
        Release(&s_endpointModule, s_endpoint.slot, kEndpointSlots);
}

bool RegisterVolumeNotifications(HWND window)
{
    if (g_backEndMode == kMixerMode)
        return s_mixer.fn.Oskal_HookDevice && s_mixer.fn.Oskal_HookDevice(window, 0);
    if (!s_endpoint.fn.Pernet_InitEx ||
        !s_endpoint.fn.Pernet_InitEx(window, kDefaultDeviceChangedMsg, kDeviceRemovedMsg))
        return false;
    return s_endpoint.fn.Pernet_Register && s_endpoint.fn.Pernet_Register(window, kEndpointVolumeMsg);
}

int UnregisterVolumeNotifications(HWND window)
{
    if (g_backEndMode == kMixerMode)
        return s_mixer.fn.Oskal_UnHookDevice ? s_mixer.fn.Oskal_UnHookDevice(window, 0) : 0;
    if (s_endpoint.fn.Pernet_Unregister)
        s_endpoint.fn.Pernet_Unregister(window, kEndpointVolumeMsg);
    if (s_endpoint.fn.Pernet_DeInit)
        s_endpoint.fn.Pernet_DeInit();
    return 1;
}

void ForwardDefaultDeviceChanged()
{
    if (s_endpoint.fn.Pernet_OnDefaultDeviceChanged)
        s_endpoint.fn.Pernet_OnDefaultDeviceChanged();
}

void ForwardDeviceRemoved()
{
    if (s_endpoint.fn.Pernet_OnDeviceRemoved)
        s_endpoint.fn.Pernet_OnDeviceRemoved();
}

int MixerGetMaxMinValue(DWORD *maximum, DWORD *minimum)
{
    return s_mixer.fn.Oskal_GetMaxMinValue ? s_mixer.fn.Oskal_GetMaxMinValue(0, 0, 1, maximum, minimum, 0)
                                        : 0;
}

int MixerGetValue(DWORD **values, DWORD *count)
{
    return s_mixer.fn.Oskal_GetValue ? s_mixer.fn.Oskal_GetValue(0, 0, 1, values, count) : 0;
}

void MixerFreeValueItems(DWORD *values)
{
    if (s_mixer.fn.Oskal_FreeValueItems)
        s_mixer.fn.Oskal_FreeValueItems(values);
}

int EndpointGetVolumeLevel(int *percent)
{
    return s_endpoint.fn.Pernet_GetVolumeLevel ? s_endpoint.fn.Pernet_GetVolumeLevel(percent) : 0;
}
