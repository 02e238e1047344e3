#include "audio_backend.h"
#include <string.h>
#include "mixer.h"
#include "outside_libraries.h"
#include "run_time_binding.h"

BackEndMode g_backEndMode = kMixerMode;

// Each library's functions in the order they are resolved, with the type of the slot: one list
// gives every slot its name, so names and slots cannot drift apart. The functions the agent
// calls take their types from their one declaration (outside_libraries.h); those it only
// resolves keep the untyped FARPROC.
#define MIXER_FUNCTIONS(X)                                                                         \
    X(Oskal_GetDevicesCount, FARPROC)                                                              \
    X(Oskal_HookDevice, BINDING_DECLARED(Oskal_HookDevice))                                        \
    X(Oskal_UnHookDevice, BINDING_DECLARED(Oskal_UnHookDevice))                                    \
    X(Oskal_GetDeviceName, FARPROC)                                                                \
    X(Oskal_FindDefaultMixerNumber, FARPROC)                                                       \
    X(Oskal_GetLineName, FARPROC)                                                                  \
    X(Oskal_GetControlName, FARPROC)                                                               \
    X(Oskal_GetControlID, FARPROC)                                                                 \
    X(Oskal_GetMaxMinValue, BINDING_DECLARED(Oskal_GetMaxMinValue))                                \
    X(Oskal_GetValueItemCount, FARPROC)                                                            \
    X(Oskal_GetValue, BINDING_DECLARED(Oskal_GetValue))                                            \
    X(Oskal_SetValue, FARPROC)                                                                     \
    X(Oskal_CanRecordMultipleSelected, FARPROC)                                                    \
    X(Oskal_GetRecordSelectedCount, FARPROC)                                                       \
    X(Oskal_IsRecordSelected, FARPROC)                                                             \
    X(Oskal_SetRecordSelected, FARPROC)                                                            \
    X(Oskal_FreeValueItems, BINDING_DECLARED(Oskal_FreeValueItems))                                \
    X(Oskal_GetLineNameExByCtrlID, FARPROC)                                                        \
    X(Oskal_GetControlNameExByCtrlID, FARPROC)                                                     \
    X(Oskal_GetMaxMinValueExByCtrlID, FARPROC)                                                     \
    X(Oskal_GetValueItemCountExByCtrlID, FARPROC)                                                  \
    X(Oskal_GetValueExByCtrlID, FARPROC)                                                           \
    X(Oskal_SetValueExByCtrlID, FARPROC)                                                           \
    X(Oskal_IsRecordSelectedExByCtrlID, FARPROC)                                                   \
    X(Oskal_SetRecordSelectedExByCtrlID, FARPROC)                                                  \
    X(Oskal_GetControlIDEx, FARPROC)                                                               \
    X(Oskal_GetLineNameEx, FARPROC)                                                                \
    X(Oskal_GetControlNameEx, FARPROC)                                                             \
    X(Oskal_GetMaxMinValueEx, FARPROC)                                                             \
    X(Oskal_GetValueItemCountEx, FARPROC)                                                          \
    X(Oskal_GetValueEx, FARPROC)                                                                   \
    X(Oskal_SetValueEx, FARPROC)                                                                   \
    X(Oskal_IsRecordSelectedEx, FARPROC)                                                           \
    X(Oskal_SetRecordSelectedEx, FARPROC)

#define ENDPOINT_FUNCTIONS(X)                                                                      \
    X(Pernet_Init, FARPROC)                                                                        \
    X(Pernet_InitEx, BINDING_DECLARED(Pernet_InitEx))                                              \
    X(Pernet_DeInit, BINDING_DECLARED(Pernet_DeInit))                                              \
    X(Pernet_GetMute, FARPROC)                                                                     \
    X(Pernet_SetMute, FARPROC)                                                                     \
    X(Pernet_GetVolumeLevel, BINDING_DECLARED(Pernet_GetVolumeLevel))                              \
    X(Pernet_SetVolumeLevel, FARPROC)                                                              \
    X(Pernet_VolumeLevelStepUp, FARPROC)                                                           \
    X(Pernet_VolumeLevelStepDown, FARPROC)                                                         \
    X(Pernet_Register, BINDING_DECLARED(Pernet_Register))                                          \
    X(Pernet_Unregister, BINDING_DECLARED(Pernet_Unregister))                                      \
    X(Pernet_OnDefaultDeviceChanged, BINDING_DECLARED(Pernet_OnDefaultDeviceChanged))              \
    X(Pernet_OnDeviceRemoved, BINDING_DECLARED(Pernet_OnDeviceRemoved))

// The tables: a typed slot per name, resolved and emptied as a whole.
struct MixerTable {
    MIXER_FUNCTIONS(BINDING_SLOT)
};
struct EndpointTable {
    ENDPOINT_FUNCTIONS(BINDING_SLOT)
};
static_assert(0 MIXER_FUNCTIONS(BINDING_COUNT) == 34 && 0 ENDPOINT_FUNCTIONS(BINDING_COUNT) == 13,
              "the libraries' functions");

static HMODULE s_mixerModule;
static MixerTable s_mixer;
static HMODULE s_endpointModule;
static EndpointTable s_endpoint;

// The slots are emptied before the library goes, so no call can reach a freed module.
template <class Table> static void Release(HMODULE* module, Table* table)
{
    if (!*module) return;
    *table = Table();
    FreeLibrary(*module);
    *module = nullptr;
}

void ChooseBackEndMode()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    g_backEndMode =
        GetVersionExA(&version) && version.dwMajorVersion > 5 ? kEndpointMode : kMixerMode;
}

bool BuildEndpointLibraryPath(const char* programFile, char* out)
{
    static const char kName[] = "\\Pernet.dll";
    out[0] = '\0';
    // The last backslash, stepping over both bytes of double-byte characters.
    const char* lastSlash = nullptr;
    for (const char* p = programFile; *p;) {
        if (IsDBCSLeadByte((BYTE)*p) && p[1]) {
            p += 2;
        } else {
            if (*p == '\\') lastSlash = p;
            p++;
        }
    }
    if (!lastSlash) return false;
    size_t dirLength = (size_t)(lastSlash - programFile);
    if (dirLength + sizeof kName > kLibraryPathSize) return false;
    memcpy(out, programFile, dirLength);
    memcpy(out + dirLength, kName, sizeof kName);
    return true;
}

bool BindAudioBackEnd()
{
    if (g_backEndMode == kMixerMode) {
        s_mixerModule = LoadLibraryA("Oskal.dll");
        if (!s_mixerModule) return false;
        // Names the library does not export leave their slots null.
        BINDING_BIND(MIXER_FUNCTIONS, s_mixer, s_mixerModule);
        return true;
    }
    char program[2 * MAX_PATH];
    char library[kLibraryPathSize];
    DWORD n = GetModuleFileNameA(nullptr, program, sizeof program);
    // No path, a truncated one, or one without a directory: never load by a guessed name.
    if (n == 0 || n >= sizeof program || !BuildEndpointLibraryPath(program, library)) return false;
    s_endpointModule = LoadLibraryA(library);
    if (!s_endpointModule) return false;
    BINDING_BIND(ENDPOINT_FUNCTIONS, s_endpoint, s_endpointModule);
    return true;
}

void UnbindAudioBackEnd()
{
    if (g_backEndMode == kMixerMode)
        Release(&s_mixerModule, &s_mixer);
    else
        Release(&s_endpointModule, &s_endpoint);
}

bool RegisterVolumeNotifications(HWND window)
{
    if (g_backEndMode == kMixerMode)
        return s_mixer.Oskal_HookDevice && s_mixer.Oskal_HookDevice(window, 0);
    if (!s_endpoint.Pernet_InitEx ||
        !s_endpoint.Pernet_InitEx(window, kDefaultDeviceChangedMsg, kDeviceRemovedMsg))
        return false;
    return s_endpoint.Pernet_Register && s_endpoint.Pernet_Register(window, kEndpointVolumeMsg);
}

int UnregisterVolumeNotifications(HWND window)
{
    if (g_backEndMode == kMixerMode)
        return s_mixer.Oskal_UnHookDevice ? s_mixer.Oskal_UnHookDevice(window, 0) : 0;
    if (s_endpoint.Pernet_Unregister) s_endpoint.Pernet_Unregister(window, kEndpointVolumeMsg);
    if (s_endpoint.Pernet_DeInit) s_endpoint.Pernet_DeInit();
    return 1;
}

void ForwardDefaultDeviceChanged()
{
    if (s_endpoint.Pernet_OnDefaultDeviceChanged) s_endpoint.Pernet_OnDefaultDeviceChanged();
}

void ForwardDeviceRemoved()
{
    if (s_endpoint.Pernet_OnDeviceRemoved) s_endpoint.Pernet_OnDeviceRemoved();
}

int MixerGetMaxMinValue(UINT mixer, UINT line, UINT control, DWORD* maximum, DWORD* minimum,
                        UINT flags)
{
    return s_mixer.Oskal_GetMaxMinValue
               ? s_mixer.Oskal_GetMaxMinValue(mixer, line, control, maximum, minimum, flags)
               : 0;
}

int MixerGetValue(UINT mixer, UINT line, UINT control, DWORD** values, DWORD* count)
{
    return s_mixer.Oskal_GetValue ? s_mixer.Oskal_GetValue(mixer, line, control, values, count) : 0;
}

void MixerFreeValueItems(DWORD* values)
{
    if (s_mixer.Oskal_FreeValueItems) s_mixer.Oskal_FreeValueItems(values);
}

int EndpointGetVolumeLevel(int* percent)
{
    return s_endpoint.Pernet_GetVolumeLevel ? s_endpoint.Pernet_GetVolumeLevel(percent) : 0;
}
